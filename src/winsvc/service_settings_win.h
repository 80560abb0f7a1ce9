// The descriptive and recovery settings applied to a freshly created service (Windows files only).
#pragma once

#include "base/win.h"

namespace mw {

using ChangeServiceConfig2Fn = BOOL(WINAPI*)(SC_HANDLE service, DWORD infoLevel, LPVOID info);

// Description, delayed automatic start, then the three restart actions. The results are ignored:
// Windows 7 keeps all three, Wine keeps only the description (the delayed flag fails with error 124).
void ApplyServiceSettings(SC_HANDLE service, ChangeServiceConfig2Fn change = ChangeServiceConfig2W);

}  // namespace mw
