// Which URL the network check fetches and how its result is worded.
#include "diag/check_network.h"

#include "base/text.h"
#include "net/http_text.h"

namespace mw {

namespace {

const wchar_t kDefaultCheckUrl[] = L"https://www.cloudflare.com/cdn-cgi/trace";
const size_t kExcerptBytes = 200;

}  // namespace

std::wstring CheckNetUrl(const std::vector<std::wstring>& args) {
    if (args.size() >= 2 && !StartsWithNoCase(args[1], L"--")) return args[1];
    return kDefaultCheckUrl;
}

std::vector<std::wstring> CheckNetSuccessLines(uint32_t status, const std::string& body, uint32_t elapsedMs) {
    // A multi-byte character cut at the limit becomes a replacement character.
    std::string excerpt = body.size() > kExcerptBytes ? body.substr(0, kExcerptBytes) : body;
    return {
        FormatText(L"HTTP %u，%Iu 字节，耗时 %u ms", unsigned(status), body.size(), unsigned(elapsedMs)),
        L"响应片段: " + Utf8ToWide(excerpt),
    };
}

std::wstring CheckNetFailureLine(const std::wstring& error) {
    const std::wstring prefix = L"请求失败: ";
    return error.compare(0, prefix.size(), prefix) == 0 ? error : prefix + error;
}

std::vector<std::wstring> CheckNetHints(uint32_t errorCode, uint32_t status, bool viaProxy) {
    const std::wstring proxyAdvice = viaProxy ? L"检查 INI 里的 proxy= 是否可用" : L"可在 INI 里配 proxy= 走代理";
    if (IsTlsErrorCode(errorCode)) {
        return {L"TLS/安全通道失败：先安装系统更新 KB3140245，再以管理员身份运行 --tlsfix，然后重启系统"};
    }
    switch (errorCode) {
        case 12007:
            return {viaProxy ? L"代理的名称解析失败：检查 INI 里的 proxy= 地址"
                             : L"域名解析失败：检查本机 DNS 设置，或在 INI 里配 proxy= 走代理"};
        case 12029:
            return {viaProxy ? L"连不上代理：检查 INI 里的 proxy= 地址和端口，以及代理程序是否在运行"
                             : L"连不上服务器：检查网络和防火墙；" + proxyAdvice};
        case 12002:
            return {L"等待响应超时：网络慢或被拦截；" + proxyAdvice};
        case 12030:
        case 12031:
            return {L"连接被中断：网络不稳定或被拦截；" + proxyAdvice};
        case 12038:
        case 12044:
        case 12045:
            return {L"证书问题：检查系统时间是否正确，必要时更新系统根证书"};
        default:
            break;
    }
    if (status == 407) return {L"代理要求认证：换一个不需要认证的代理，或在代理软件里放行本机"};
    if (status != 0) return {FormatText(L"网络是通的，服务器返回了 HTTP %u：检查 URL 是否正确", unsigned(status))};
    return {};
}

std::wstring CheckNetProxyLine(const std::wstring& choiceText) {
    return choiceText.empty() ? std::wstring(L"代理: 未配置 proxy=，使用 WinHTTP 默认设置") : choiceText;
}

}  // namespace mw
