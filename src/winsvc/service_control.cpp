// The fixed registration of the service and the display names of its states.
#include "winsvc/service_control.h"

#include "base/text.h"

namespace mw {

const wchar_t kServiceName[] = L"mosswarden";
const wchar_t kServiceDisplayName[] = L"cloudflared Tunnel Supervisor";
const wchar_t kServiceDescription[] = L"自动下载并守护 cloudflared，把本机端口通过 Cloudflare Tunnel 暴露出去";

std::wstring ServiceCommandLine(const std::wstring& exePath) { return L"\"" + exePath + L"\" --service"; }

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
