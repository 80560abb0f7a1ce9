// Readiness decisions over plain values: the address asked, the body read, the health line and the restart rule.
#include "supervisor/readiness.h"

#include "base/text.h"

namespace mw {

namespace {

bool IsLocalHost(const std::wstring& host) {
    const std::wstring lower = ToLowerAscii(host);
    return lower == L"localhost" || lower == L"[::1]" || lower.rfind(L"127.", 0) == 0;
}

bool AllDigits(const std::wstring& text) {
    if (text.empty() || text.size() > 5) return false;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') return false;
    }
    return true;
}

}  // namespace

std::wstring ReadyUrl(const std::wstring& metrics) {
    const std::wstring text = TrimText(metrics);
    const size_t colon = text.rfind(L':');
    if (colon == std::wstring::npos) return std::wstring();
    std::wstring host = text.substr(0, colon);
    const std::wstring port = text.substr(colon + 1);
    if (!AllDigits(port)) return std::wstring();
    uint32_t number = 0;
    for (wchar_t c : port) number = number * 10 + static_cast<uint32_t>(c - L'0');
    if (number < 1 || number > 65535) return std::wstring();
    if (host.empty() || host == L"0.0.0.0") host = L"127.0.0.1";
    if (!IsLocalHost(host)) return std::wstring();
    for (wchar_t c : host) {
        const bool ok = (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || c == L'.' ||
                        c == L'-' || c == L'[' || c == L']' || c == L':';
        if (!ok) return std::wstring();
    }
    return L"http://" + host + L":" + port + L"/ready";
}

bool ParseReadyConnections(const std::string& body, int32_t* count) {
    const std::string key = "\"readyConnections\"";
    size_t at = body.find(key);
    if (at == std::string::npos) return false;
    size_t pos = at + key.size();
    while (pos < body.size() && (body[pos] == ' ' || body[pos] == ':')) ++pos;
    int64_t value = 0;
    size_t digits = 0;
    while (pos < body.size() && body[pos] >= '0' && body[pos] <= '9' && digits < 9) {
        value = value * 10 + (body[pos] - '0');
        ++pos;
        ++digits;
    }
    if (digits == 0) return false;
    *count = static_cast<int32_t>(value);
    return true;
}

bool IsReady(const ReadyAnswer& answer) {
    return answer.answered && answer.status == 200 && answer.connections > 0;
}

std::wstring HealthLine(const ReadyAnswer& answer, const std::wstring& metrics) {
    if (!answer.answered) {
        std::wstring why = metrics.empty() ? std::wstring(L"ini 里 metrics= 为空，没有就绪检查") : metrics + L" 没有应答";
        if (!answer.error.empty()) why += L": " + answer.error;
        return L"健康: 未运行（" + why + L"）";
    }
    return FormatText(IsReady(answer) ? L"健康: 就绪（%d 条连接）" : L"健康: 未就绪（%d 条连接）", int(answer.connections));
}

int HealthExitCode(const ReadyAnswer& answer) {
    if (!answer.answered) return 2;
    return IsReady(answer) ? 0 : 1;
}

ReadinessStep ObserveReadiness(ReadinessWatch& watch, const ReadyAnswer& answer, uint64_t now,
                               int32_t unreadyRestartSec) {
    ReadinessStep step;
    if (answer.answered) {
        const int32_t count = answer.status == 200 ? answer.connections : 0;
        if (count != watch.lastCount) {
            step.info = FormatText(L"隧道可用连接: %d → %d", int(watch.lastCount), int(count));
            watch.lastCount = count;
        }
    }
    if (IsReady(answer)) {
        watch.readySinceTick = now;
        return step;
    }
    if (unreadyRestartSec <= 0) return step;
    const uint64_t unreadyMs = now - watch.readySinceTick;
    if (unreadyMs >= static_cast<uint64_t>(unreadyRestartSec) * 1000) {
        step.restart = true;
        step.warn = FormatText(L"隧道已 %u 秒没有可用连接，重启 cloudflared", static_cast<unsigned>(unreadyMs / 1000));
    }
    return step;
}

}  // namespace mw
