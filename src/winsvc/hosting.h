// The three hostings of the supervisor: console foreground, hidden console, Windows service.
#pragma once

#include <string>

namespace mw {

// The exit code of a "run", "daemon" or "service" that finds another supervisor on the same INI.
constexpr int kAlreadySupervisedExit = 6;

// "run" (daemon false) and "daemon": 2 when the settings cannot be prepared, 6 when another supervisor
// holds the same INI, else the supervisor's 0.
int HostSupervisor(const std::wstring& iniPath, bool daemon);

// "service": runs under the service control manager on `iniPath` (the registration carries "--ini"
// for an INI other than the default); from a console it falls back to "run".
int RunServiceDispatcher(const std::wstring& iniPath);

}  // namespace mw
