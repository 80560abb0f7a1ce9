// Registers the Event Log source and reports the supervisor's events through it from the service.
#include "winsvc/event_log.h"

#include <atomic>
#include <vector>

#include "base/events.h"
#include "base/handles.h"
#include "base/text.h"
#include "base/win.h"

namespace mw {

const wchar_t kEventLogSourceKey[] = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\mosswarden";

namespace {

// Opened before the sink is set and closed after it is cleared; ReportEventW itself is thread-safe.
std::atomic<HANDLE> g_source{nullptr};

WORD EventType(EventSeverity severity) {
    switch (severity) {
        case EventSeverity::Error: return EVENTLOG_ERROR_TYPE;
        case EventSeverity::Warning: return EVENTLOG_WARNING_TYPE;
        default: return EVENTLOG_INFORMATION_TYPE;
    }
}

void ReportToEventLog(SupervisorEvent event, const std::vector<std::wstring>& inserts) {
    HANDLE source = g_source.load();
    if (source == nullptr) return;
    std::vector<LPCWSTR> strings;
    for (const std::wstring& insert : inserts) strings.push_back(insert.c_str());
    // A lost event is not worth disturbing the supervisor for: the log file has the same line.
    ReportEventW(source, EventType(SeverityOf(event)), 0, static_cast<DWORD>(event), nullptr,
                 static_cast<WORD>(strings.size()), 0, strings.empty() ? nullptr : strings.data(), nullptr);
}

}  // namespace

bool InstallEventLogSource(const std::wstring& exePath, std::wstring* errorText) {
    UniqueRegKey key;
    LSTATUS rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kEventLogSourceKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                 KEY_SET_VALUE, nullptr, key.put(), nullptr);
    if (rc == ERROR_SUCCESS) {
        DWORD bytes = static_cast<DWORD>((exePath.size() + 1) * sizeof(wchar_t));
        rc = RegSetValueExW(key.get(), L"EventMessageFile", 0, REG_EXPAND_SZ,
                            reinterpret_cast<const BYTE*>(exePath.c_str()), bytes);
    }
    if (rc == ERROR_SUCCESS) {
        DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
        rc = RegSetValueExW(key.get(), L"TypesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&types),
                            sizeof(types));
    }
    if (rc != ERROR_SUCCESS) {
        if (errorText != nullptr) *errorText = L"注册事件日志源失败: " + Win32ErrorText(static_cast<uint32_t>(rc));
        return false;
    }
    return true;
}

bool RemoveEventLogSource(bool* existed, std::wstring* errorText) {
    if (existed != nullptr) *existed = false;
    LSTATUS rc = RegDeleteKeyW(HKEY_LOCAL_MACHINE, kEventLogSourceKey);
    if (rc == ERROR_FILE_NOT_FOUND) return true;
    if (rc != ERROR_SUCCESS) {
        if (errorText != nullptr) *errorText = L"删除事件日志源失败: " + Win32ErrorText(static_cast<uint32_t>(rc));
        return false;
    }
    if (existed != nullptr) *existed = true;
    return true;
}

void OpenServiceEventLog() {
    HANDLE source = RegisterEventSourceW(nullptr, L"mosswarden");
    if (source == nullptr) return;
    g_source.store(source);
    SetEventSink(ReportToEventLog);
}

void CloseServiceEventLog() {
    SetEventSink(nullptr);
    UniqueEventSource source(g_source.exchange(nullptr));
}

}  // namespace mw
