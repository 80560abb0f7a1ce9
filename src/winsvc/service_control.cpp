// The fixed registration of the service and the display names of its states.
#include "winsvc/service_control.h"

#include "base/text.h"

namespace mw {

const wchar_t kServiceName[] = L"mosswarden";
const wchar_t kServiceDisplayName[] = L"mosswarden (Cloudflare Tunnel 守护)";
const wchar_t kServiceDescription[] = L"自动下载并守护 cloudflared，把本机端口通过 Cloudflare Tunnel 暴露出去";

std::wstring ServiceCommandLine(const std::wstring& exePath) { return L"\"" + exePath + L"\" --service"; }

std::wstring RegistrationLine(const ServiceSettingsResult& applied) {
    std::wstring line = L"服务已注册: mosswarden (自动启动";
    if (applied.delayedStart) line += L" + 延迟启动";
    if (applied.failureActions) line += L" + 崩溃重启";
    line += L")";
    if (!applied.delayedStart) line += L"（延迟启动未生效）";
    if (!applied.failureActions) line += L"（崩溃重启未生效）";
    return line;
}

std::wstring ServiceStateName(uint32_t state) {
    switch (state) {
        case 1: return L"STOPPED";
        case 2: return L"START_PENDING";
        case 3: return L"STOP_PENDING";
        case 4: return L"RUNNING";
        case 5: return L"CONTINUE_PENDING";
        case 6: return L"PAUSE_PENDING";
        case 7: return L"PAUSED";
        default: return FormatText(L"UNKNOWN(%u)", static_cast<unsigned>(state));
    }
}

}  // namespace mw
