// The supervisor's named mutex and the shared memory that names its holder.
#include "base/win.h"

#include <sddl.h>

#include "base/paths.h"
#include "base/text.h"
#include "winsvc/single_instance_win.h"

namespace mw {

namespace {

// Users may read the service's PID but get no right on its mutex: one that could wait on it could hold it.
const wchar_t kServicePidSddl[] = L"D:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;GR;;;AU)";

uint32_t ReadHolderPid(const std::wstring& lockName) {
    UniqueHandle memory(OpenFileMappingW(FILE_MAP_READ, FALSE, SupervisorPidName(lockName).c_str()));
    if (!memory) return 0;
    UniqueMappedView view(MapViewOfFile(memory.get(), FILE_MAP_READ, 0, 0, sizeof(uint32_t)));
    if (!view) return 0;
    return *static_cast<const volatile uint32_t*>(view.get());
}

// Held when the name exists and cannot be taken now; a name we may not open belongs to the service.
bool NameHeld(const std::wstring& lockName) {
    UniqueHandle mutex(OpenMutexW(SYNCHRONIZE, FALSE, lockName.c_str()));
    if (!mutex) {
        DWORD err = GetLastError();
        return err == ERROR_ACCESS_DENIED;
    }
    DWORD wait = WaitForSingleObject(mutex.get(), 0);
    if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) {
        ReleaseMutex(mutex.get());
        return false;
    }
    return true;
}

bool PublishPid(const std::wstring& lockName, bool global, UniqueHandle* memory) {
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), nullptr, FALSE};
    UniqueLocalMemory descriptor;
    if (global) {
        PSECURITY_DESCRIPTOR sd = nullptr;
        if (ConvertStringSecurityDescriptorToSecurityDescriptorW(kServicePidSddl, SDDL_REVISION_1, &sd, nullptr)) {
            descriptor.reset(sd);
            attributes.lpSecurityDescriptor = sd;
        }
    }
    *memory = UniqueHandle(CreateFileMappingW(INVALID_HANDLE_VALUE, &attributes, PAGE_READWRITE, 0,
                                              sizeof(uint32_t), SupervisorPidName(lockName).c_str()));
    if (!*memory) return false;
    UniqueMappedView view(MapViewOfFile(memory->get(), FILE_MAP_WRITE, 0, 0, sizeof(uint32_t)));
    if (!view) return false;
    *static_cast<volatile uint32_t*>(view.get()) = GetCurrentProcessId();
    return true;
}

}  // namespace

void SupervisorLock::Release() {
    if (mutex) ReleaseMutex(mutex.get());
    mutex.reset();
    pidMemory.reset();
}

LockResult AcquireSupervisorLock(const std::wstring& iniPath, bool global, SupervisorLock* lock,
                                 uint32_t* holderPid, std::wstring* errorText) {
    std::wstring full = FullPath(iniPath);
    if (holderPid != nullptr) *holderPid = 0;
    if (!global) {
        std::wstring serviceName = SupervisorLockName(full, true);
        if (NameHeld(serviceName)) {
            if (holderPid != nullptr) *holderPid = ReadHolderPid(serviceName);
            return LockResult::Held;
        }
    }
    std::wstring name = SupervisorLockName(full, global);
    UniqueHandle mutex(CreateMutexW(nullptr, FALSE, name.c_str()));
    if (!mutex) {
        DWORD err = GetLastError();
        if (err == ERROR_ACCESS_DENIED) {
            if (holderPid != nullptr) *holderPid = ReadHolderPid(name);
            return LockResult::Held;
        }
        if (errorText != nullptr) *errorText = L"CreateMutex 失败: " + Win32ErrorText(err);
        return LockResult::Failed;
    }
    // Waiting rather than trusting ERROR_ALREADY_EXISTS: a status or install that only looks keeps the name
    // alive for a moment without holding it.
    DWORD wait = WaitForSingleObject(mutex.get(), 0);
    if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) {
        if (holderPid != nullptr) *holderPid = ReadHolderPid(name);
        return LockResult::Held;
    }
    lock->mutex = std::move(mutex);
    // Without the PID the lock still holds; the message of a second start then names PID 0.
    PublishPid(name, global, &lock->pidMemory);
    return LockResult::Acquired;
}

void* CreateConsoleStopEvent(const std::wstring& iniPath) {
    std::wstring name = SupervisorStopName(SupervisorLockName(FullPath(iniPath), false));
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, name.c_str());
    // A stopper aimed at a supervisor before this one may have left it signalled.
    if (event != nullptr) ResetEvent(event);
    return event;
}

bool StopConsoleSupervisor(const std::wstring& iniPath, uint32_t* pid, bool* forced) {
    std::wstring name = SupervisorLockName(FullPath(iniPath), false);
    if (!NameHeld(name)) return false;
    uint32_t holder = ReadHolderPid(name);
    if (holder == 0 || holder == GetCurrentProcessId()) return false;
    UniqueHandle process(OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, holder));
    if (!process) return false;
    bool terminated = false;
    UniqueHandle stop(OpenEventW(EVENT_MODIFY_STATE, FALSE, SupervisorStopName(name).c_str()));
    if (!stop || !SetEvent(stop.get()) || WaitForSingleObject(process.get(), 15000) != WAIT_OBJECT_0) {
        // Ending the process ends its connector too: the connector runs in its kill-on-close job.
        TerminateProcess(process.get(), 1);
        WaitForSingleObject(process.get(), 5000);
        terminated = true;
    }
    if (pid != nullptr) *pid = holder;
    if (forced != nullptr) *forced = terminated;
    return true;
}

bool FindSupervisor(const std::wstring& iniPath, uint32_t* holderPid, bool* byService) {
    std::wstring full = FullPath(iniPath);
    for (bool global : {true, false}) {
        std::wstring name = SupervisorLockName(full, global);
        if (!NameHeld(name)) continue;
        if (holderPid != nullptr) *holderPid = ReadHolderPid(name);
        if (byService != nullptr) *byService = global;
        return true;
    }
    return false;
}

}  // namespace mw
