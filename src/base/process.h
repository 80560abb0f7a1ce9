// Runs a console program hidden, in a kill-on-close job, with its output pumped line by line.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace mw {

// Receives one output line of the child, on the child's pump thread. May be empty.
using LineHandler = std::function<void(const std::wstring& line)>;

// Extra environment variables for a child, in order: (name, value).
using EnvironmentList = std::vector<std::pair<std::wstring, std::wstring>>;

// One child at a time; the record may be started again after a run. Destroying it kills the
// child and everything it started (the job) and joins the pump thread. When the child cannot join
// a job (logged as a WARN), it still runs and is tracked, but only the child itself is killed.
class ChildProcess {
public:
    ChildProcess();
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Closes a previous run first. args and workingDir may be empty. After a failed start the
    // thread's last error holds the Win32 code of the call that failed.
    bool Start(const std::wstring& exe, const std::wstring& args, const std::wstring& workingDir,
               const EnvironmentList& extraEnv, LineHandler handler, std::wstring* errorText = nullptr);
    // Never blocks; collects the exit code once the child has ended.
    bool IsRunning();
    // True when the child has ended within the time, or when there is none.
    bool Wait(uint32_t milliseconds);
    // Kills the job and the child; afterwards ExitCode() holds the collected code.
    void Terminate(uint32_t exitCode);
    // Kills what is left, closes every handle and joins the pump thread; safe to repeat.
    void Close();

    uint32_t ProcessId() const;
    uint32_t ExitCode() const;
    bool Exited() const;

private:
    struct State;  // defined by the Windows implementation
    std::unique_ptr<State> state_;
};

// The inherited environment with extraEnv applied, as a UTF-16 block (double-NUL ended).
std::wstring BuildEnvironmentBlock(const EnvironmentList& extraEnv);

// Runs exe with args in ExeDir(), kills it after timeoutMs, and joins its output lines with " | ".
// True exactly when some output arrived; when the program could not be started at all, startError
// (if given) receives the reason.
bool RunAndCapture(const std::wstring& exe, const std::wstring& args, uint32_t timeoutMs,
                   std::wstring* outText = nullptr, std::wstring* startError = nullptr);

// What a short run of a program showed.
struct CapturedRun {
    bool started = false;
    uint32_t startError = 0;        // Win32 code when the start failed
    std::wstring startErrorText;    // the start's error text when it failed
    bool timedOut = false;          // still running at the time limit, then killed
    uint32_t exitCode = 0;          // meaningful when started and not timed out
    std::wstring output;            // the output lines joined with " | "
};

// Runs exe with args in ExeDir(), kills it after timeoutMs, and reports how it went.
CapturedRun CaptureRun(const std::wstring& exe, const std::wstring& args, uint32_t timeoutMs);

}  // namespace mw
