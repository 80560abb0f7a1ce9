// The Event Log source "mosswarden" in the Application log: its registration and the service's sink.
#pragma once

#include <string>

namespace mw {

// Under HKEY_LOCAL_MACHINE.
extern const wchar_t kEventLogSourceKey[];

// EventMessageFile = the executable (it carries the message table), TypesSupported = error, warning,
// information. Needs administrator rights.
bool InstallEventLogSource(const std::wstring& exePath, std::wstring* errorText = nullptr);
// True also when there was none (*existed false).
bool RemoveEventLogSource(bool* existed = nullptr, std::wstring* errorText = nullptr);

// The service hosting opens the source and makes it the event sink; it closes it after the supervisor
// has returned (and with it every thread that reports).
void OpenServiceEventLog();
void CloseServiceEventLog();

}  // namespace mw
