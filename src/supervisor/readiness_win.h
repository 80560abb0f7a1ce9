// The one Win32 call of the readiness watch: GET /ready of the local connector.
#pragma once

#include <string>

#include "supervisor/readiness.h"

namespace mw {

// GET readyUrl without proxy, 1 s for each step. Not answered when the URL is empty or nothing answers.
ReadyAnswer QueryReady(const std::wstring& readyUrl);

// "health": one line about the tunnel of the INI's metrics address; exit 0 ready, 1 not ready,
// 2 nothing answers (or the settings cannot be read).
int RunHealthCommand(const std::wstring& iniPath);

}  // namespace mw
