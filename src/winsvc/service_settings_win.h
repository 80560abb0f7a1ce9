// The descriptive and recovery settings applied to a freshly created service (Windows files only).
#pragma once

#include "base/win.h"
#include "winsvc/service_control.h"

namespace mw {

using ChangeServiceConfig2Fn = BOOL(WINAPI*)(SC_HANDLE service, DWORD infoLevel, LPVOID info);

// Description, delayed automatic start, then the three restart actions, each on its own: a refused one
// does not stop the next. Windows 7 takes all three; Wine refuses the delayed flag with error 124.
ServiceSettingsResult ApplyServiceSettings(SC_HANDLE service, ChangeServiceConfig2Fn change = ChangeServiceConfig2W);

}  // namespace mw
