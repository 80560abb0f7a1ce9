// One supervisor per INI file: a named mutex derived from the INI's full path, and its holder's PID.
#pragma once

#include <cstdint>
#include <string>

namespace mw {

// "Global\mosswarden-<16 hex>" for the service, "Local\mosswarden-<16 hex>" otherwise. The hash covers
// the path with "/" as "\" and A-Z folded, so two spellings of one file give one name.
std::wstring SupervisorLockName(const std::wstring& iniFullPath, bool global);
// The name of the shared memory beside the mutex that holds the holder's process id.
std::wstring SupervisorPidName(const std::wstring& lockName);
// "已有 mosswarden 在守护 <ini>（PID n）".
std::wstring AlreadySupervisingText(const std::wstring& iniPath, uint32_t pid);

// The name of the console hosting's stop event beside its Local\ mutex.
std::wstring SupervisorStopName(const std::wstring& lockName);

// Whether a supervisor (service or console) holds the INI's name; *holderPid gets its PID (0 when unreadable).
bool FindSupervisor(const std::wstring& iniPath, uint32_t* holderPid, bool* byService = nullptr);

// Stops the console supervisor ("run" or "daemon") of the INI: its stop event first, then, when it has
// not ended within 15 s, TerminateProcess. False when none runs; *pid is the one stopped and *forced
// whether it had to be terminated.
bool StopConsoleSupervisor(const std::wstring& iniPath, uint32_t* pid, bool* forced);
// "已停止后台守护（PID n）" or "已强行结束后台守护（PID n）".
std::wstring ConsoleSupervisorStoppedText(uint32_t pid, bool forced);

}  // namespace mw
