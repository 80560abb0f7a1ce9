// The one place that includes <windows.h>; the build pins _WIN32_WINNT to Windows 7.
#pragma once

#ifndef _WIN32
#error "win.h is for files that talk to Windows (*_win.cpp)"
#endif

#include <windows.h>
