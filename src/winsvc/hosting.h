// The three hostings of the supervisor: console foreground, hidden console, Windows service.
#pragma once

#include <string>

namespace mw {

// "run" (daemon false) and "daemon": 2 when the settings cannot be prepared, else the supervisor's 0.
int HostSupervisor(const std::wstring& iniPath, bool daemon);

// "service": runs under the service control manager; from a console it falls back to "run".
int RunServiceDispatcher();

}  // namespace mw
