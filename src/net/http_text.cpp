// Pure pieces of the HTTP layer: proxy name, time-out, request headers and response header numbers.
#include "net/http_text.h"

#include <limits>

#include "base/text.h"
#include "base/version.h"

namespace mw {

const wchar_t kHttpUserAgent[] = L"mosswarden/" MW_VERSION_SHORT_W L" (Windows; cloudflared bootstrapper)";

std::wstring ProxyNameForWinHttp(const std::wstring& proxy) {
    std::wstring trimmed = TrimText(proxy);
    if (trimmed.size() >= 3) {
        size_t pos = trimmed.find(L"://");
        if (pos != std::wstring::npos) return trimmed.substr(pos + 3);
    }
    return trimmed;
}

uint32_t ReceiveTimeoutMs(int timeoutSeconds) {
    int seconds = timeoutSeconds > 0 ? timeoutSeconds : 600;
    return static_cast<uint32_t>(seconds) * 1000u;
}

int BodyReceiveSeconds(int timeoutSeconds, int stallSeconds) {
    int timeout = timeoutSeconds > 0 ? timeoutSeconds : 600;
    if (stallSeconds > 0 && stallSeconds < timeout) return stallSeconds;
    return timeout;
}

uint32_t OpenRequestFlags(bool secure) { return secure ? 0x800100u : 0x100u; }

std::wstring RequestHeaderText(uint64_t rangeFirst, uint64_t rangeLast, bool withRange) {
    std::wstring text = L"Accept: */*\r\nAccept-Encoding: identity\r\n";
    if (withRange) {
        text += FormatText(L"Range: bytes=%llu-%llu\r\n", static_cast<unsigned long long>(rangeFirst),
                           static_cast<unsigned long long>(rangeLast));
    }
    return text;
}

uint64_t ParseDecimalU64(const std::wstring& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == L' ' || text[i] == L'\t' || text[i] == L'\r' || text[i] == L'\n' ||
                               text[i] == L'\v' || text[i] == L'\f')) {
        ++i;
    }
    const uint64_t max = std::numeric_limits<uint64_t>::max();
    uint64_t value = 0;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
        uint64_t digit = static_cast<uint64_t>(text[i] - L'0');
        if (value > (max - digit) / 10) return max;
        value = value * 10 + digit;
    }
    return value;
}

uint64_t ContentRangeTotal(const std::wstring& contentRange) {
    size_t slash = contentRange.find(L'/');
    if (slash == std::wstring::npos) return 0;
    std::wstring total = TrimText(contentRange.substr(slash + 1));
    if (total == L"*") return 0;
    return ParseDecimalU64(total);
}

namespace {

struct CodeMeaning {
    uint32_t code;
    const wchar_t* meaning;
    bool tls;
};

const CodeMeaning kWinHttpMeanings[] = {
    {12002, L"超时，服务器长时间没有响应", false},
    {12007, L"无法解析服务器名称（DNS）", false},
    {12029, L"无法连接到服务器", false},
    {12030, L"连接被中止", false},
    {12031, L"连接被重置", false},
    {12152, L"服务器的响应无效", false},
    // winhttp.h calls 12156 a failed redirect; on Windows 7 it is what a failed TLS handshake with the
    // redirect target (GitHub's release storage) looks like.
    {12156, L"重定向失败（多为跳转后的 TLS/安全通道失败）", true},
    {12157, L"安全通道错误（TLS 握手失败）", true},
    {12175, L"安全连接失败（TLS）", true},
    {12038, L"证书上的名称与主机不符", false},
    {12044, L"服务器要求客户端证书", false},
    {12045, L"证书的颁发机构不受信任", false},
};

const CodeMeaning* FindMeaning(uint32_t code) {
    for (const CodeMeaning& entry : kWinHttpMeanings) {
        if (entry.code == code) return &entry;
    }
    return nullptr;
}

}  // namespace

const wchar_t* WinHttpErrorMeaning(uint32_t code) {
    const CodeMeaning* entry = FindMeaning(code);
    return entry ? entry->meaning : nullptr;
}

bool IsTlsErrorCode(uint32_t code) {
    const CodeMeaning* entry = FindMeaning(code);
    return entry != nullptr && entry->tls;
}

std::wstring ComposeWinHttpErrorText(uint32_t code, const std::wstring& moduleText) {
    const wchar_t* meaning = WinHttpErrorMeaning(code);
    if (meaning) return FormatText(L"%u: %s", unsigned(code), meaning);
    std::wstring text = TrimText(moduleText);
    if (!text.empty()) return FormatText(L"%u: %s", unsigned(code), text.c_str());
    return FormatText(L"%u", unsigned(code));
}

std::wstring HttpStatusText(uint32_t status) { return FormatText(L"HTTP 状态码 %u", unsigned(status)); }

std::wstring ReadFailedText(uint32_t error) { return L"读取失败: " + NetErrorText(error); }

std::wstring WriteFailedText(uint32_t error) { return L"写入失败: " + Win32ErrorText(error); }

std::wstring StalledText(int32_t stallSeconds) {
    return FormatText(L"%d 秒没有任何数据，判定卡死", int(stallSeconds));
}

std::wstring CancelledText() { return L"收到停止信号，下载中止"; }

std::wstring SizeAbnormalText() { return L"远端大小异常"; }

std::wstring RemoteChangedText() { return L"远端文件已变化（ETag 不同），已丢弃分段"; }

}  // namespace mw
