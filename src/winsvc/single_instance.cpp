// The names and the message of the one-supervisor-per-INI rule.
#include "winsvc/single_instance.h"

#include "base/text.h"

namespace mw {

std::wstring SupervisorLockName(const std::wstring& iniFullPath, bool global) {
    // FNV-1a over UTF-16 units: object names may not hold "\" beyond the namespace, and paths run long.
    uint64_t hash = 1469598103934665603ull;
    for (wchar_t c : iniFullPath) {
        uint16_t unit = static_cast<uint16_t>(c);
        if (unit == L'/') unit = L'\\';
        if (unit >= L'A' && unit <= L'Z') unit = static_cast<uint16_t>(unit - L'A' + L'a');
        for (int shift = 0; shift < 16; shift += 8) {
            hash ^= (unit >> shift) & 0xFF;
            hash *= 1099511628211ull;
        }
    }
    return FormatText(L"%s\\mosswarden-%016llx", global ? L"Global" : L"Local",
                      static_cast<unsigned long long>(hash));
}

std::wstring SupervisorPidName(const std::wstring& lockName) { return lockName + L"-pid"; }

std::wstring SupervisorStopName(const std::wstring& lockName) { return lockName + L"-stop"; }

std::wstring ConsoleSupervisorStoppedText(uint32_t pid, bool forced) {
    return FormatText(forced ? L"已强行结束后台守护（PID %u）" : L"已停止后台守护（PID %u）", static_cast<unsigned>(pid));
}

std::wstring AlreadySupervisingText(const std::wstring& iniPath, uint32_t pid) {
    return FormatText(L"已有 mosswarden 在守护 %s（PID %u）", iniPath.c_str(), static_cast<unsigned>(pid));
}

}  // namespace mw
