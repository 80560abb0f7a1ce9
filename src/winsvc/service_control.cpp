// The fixed registration of the service and the display names of its states.
#include "winsvc/service_control.h"

#include "base/text.h"

namespace mw {

const wchar_t kServiceName[] = L"mosswarden";
const wchar_t kServiceDisplayName[] = L"mosswarden (Cloudflare Tunnel 守护)";
const wchar_t kServiceDescription[] = L"自动下载并守护 cloudflared，把本机端口通过 Cloudflare Tunnel 暴露出去";

std::wstring ServiceCommandLine(const std::wstring& exePath, const std::wstring& iniPath) {
    std::wstring line = L"\"" + exePath + L"\" --service";
    if (!iniPath.empty()) line += L" --ini \"" + iniPath + L"\"";
    return line;
}

std::wstring RegistrationLine(const ServiceSettingsResult& applied) {
    std::wstring line = L"服务已注册: mosswarden (自动启动";
    if (applied.delayedStart) line += L" + 延迟启动";
    if (applied.failureActions) line += L" + 崩溃重启";
    line += L")";
    if (!applied.delayedStart) line += L"（延迟启动未生效）";
    if (!applied.failureActions) line += L"（崩溃重启未生效）";
    return line;
}

CommandReport StopCommandReport(uint32_t finalState) {
    CommandReport report;
    if (finalState == 1) {
        report.out = L"已停止";
        return report;
    }
    report.exitCode = 5;
    report.err = L"服务未停止，当前状态: " + ServiceStateName(finalState);
    return report;
}

CommandReport RestartCommandReport(uint32_t stoppedState, bool started, bool alreadyRunning,
                                   const std::wstring& startError) {
    CommandReport report;
    report.exitCode = 5;
    if (stoppedState != 1) {
        report.err = L"未能重启: 服务未停止，当前状态: " + ServiceStateName(stoppedState);
    } else if (!started) {
        report.err = startError;
    } else if (alreadyRunning) {
        report.err = L"未能重启: 服务停止后已被别处再次启动";
    } else {
        report.exitCode = 0;
        report.out = L"已重启";
    }
    return report;
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
