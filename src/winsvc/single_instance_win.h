// The supervisor's lock as the hostings hold it (Windows files only).
#pragma once

#include "base/handles.h"
#include "winsvc/single_instance.h"

namespace mw {

// Held for as long as the supervisor runs; the process exit releases it as well.
struct SupervisorLock {
    UniqueHandle mutex;
    UniqueHandle pidMemory;
    ~SupervisorLock() { Release(); }
    void Release();
};

// The console hosting's StopEvent: a named manual-reset event an installer or uninstaller may signal.
void* CreateConsoleStopEvent(const std::wstring& iniPath);

enum class LockResult { Acquired, Held, Failed };

// The console hostings first look for the service's Global\ name, then take their own Local\ one; the
// service takes the Global\ name. On Held, *holderPid is the holder's PID (0 when it cannot be read).
LockResult AcquireSupervisorLock(const std::wstring& iniPath, bool global, SupervisorLock* lock,
                                 uint32_t* holderPid, std::wstring* errorText = nullptr);

}  // namespace mw
