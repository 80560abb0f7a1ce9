// The child process runner: pipe, hidden process, kill-on-close job and the output pump thread.
#include "base/handles.h"
#include "base/paths.h"
#include "base/process.h"
#include "base/process_text.h"
#include "base/text.h"
#include "base/win.h"

namespace mw {

struct ChildProcess::State {
    UniqueHandle process;
    UniqueHandle thread;  // the child's first thread, created suspended
    uint32_t processId = 0;
    UniqueHandle pipeRead;
    UniqueHandle pipeWrite;
    UniqueHandle pumpThread;
    UniqueHandle job;
    LineHandler handler;
    uint32_t exitCode = 0;
    bool exited = false;
    bool started = false;
    OutputLineSplitter pending;
};

namespace {

DWORD WINAPI PumpOutput(void* parameter) {
    auto* state = static_cast<ChildProcess::State*>(parameter);
    std::string buffer(8192, '\0');
    for (;;) {
        DWORD count = 0;
        if (!ReadFile(state->pipeRead.get(), &buffer[0], static_cast<DWORD>(buffer.size()), &count, nullptr) ||
            count == 0) {
            break;
        }
        state->pending.Feed(buffer.data(), count, state->handler);
    }
    state->pending.Finish(state->handler);
    return 0;
}

void CollectExitCode(ChildProcess::State& s) {
    DWORD code = 0;
    if (GetExitCodeProcess(s.process.get(), &code)) s.exitCode = code;
    s.exited = true;
}

}  // namespace

ChildProcess::ChildProcess() : state_(new State) {}

ChildProcess::~ChildProcess() {
    Close();
    delete state_;
}

bool ChildProcess::Start(const std::wstring& exe, const std::wstring& args, const std::wstring& workingDir,
                         const EnvironmentList& extraEnv, LineHandler handler, std::wstring* errorText) {
    Close();
    State& s = *state_;
    s.handler = std::move(handler);
    s.exitCode = 0;
    s.exited = false;

    SECURITY_ATTRIBUTES inherit = {};
    inherit.nLength = sizeof(inherit);
    inherit.bInheritHandle = TRUE;
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
        DWORD err = GetLastError();
        if (errorText != nullptr) *errorText = L"CreatePipe 失败: " + Win32ErrorText(err);
        SetLastError(err);
        return false;
    }
    s.pipeRead.reset(readEnd);
    s.pipeWrite.reset(writeEnd);
    SetHandleInformation(s.pipeRead.get(), HANDLE_FLAG_INHERIT, 0);

    UniqueHandle nul(CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING,
                                 0, nullptr));

    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nul ? nul.get() : s.pipeRead.get();
    startup.hStdOutput = s.pipeWrite.get();
    startup.hStdError = s.pipeWrite.get();

    std::wstring commandLine = L"\"" + exe + L"\"";
    if (!args.empty()) commandLine += L" " + args;
    std::wstring environment = BuildEnvironmentBlock(extraEnv);

    // Created suspended so that the child is in the job before it can start anything of its own.
    PROCESS_INFORMATION processInfo = {};
    BOOL created = CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, TRUE,
                                  CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT | CREATE_SUSPENDED, &environment[0],
                                  workingDir.empty() ? nullptr : workingDir.c_str(), &startup, &processInfo);
    DWORD createErr = created ? ERROR_SUCCESS : GetLastError();
    if (created) {
        s.process.reset(processInfo.hProcess);
        s.thread.reset(processInfo.hThread);
        s.processId = processInfo.dwProcessId;
    }
    nul.reset();
    // The pipe reports end-of-file only once no copy of the write end is left open.
    s.pipeWrite.reset();
    if (!created) {
        s.processId = 0;
        s.pipeRead.reset();
        if (errorText != nullptr) *errorText = L"CreateProcess 失败: " + Win32ErrorText(createErr);
        SetLastError(createErr);
        return false;
    }

    s.job.reset(CreateJobObjectW(nullptr, nullptr));
    if (s.job) {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        SetInformationJobObject(s.job.get(), JobObjectExtendedLimitInformation, &limits, sizeof(limits));
        AssignProcessToJobObject(s.job.get(), s.process.get());
    }
    if (ResumeThread(s.thread.get()) == static_cast<DWORD>(-1)) {
        DWORD err = GetLastError();
        s.started = true;
        Close();
        if (errorText != nullptr) *errorText = L"ResumeThread 失败: " + Win32ErrorText(err);
        SetLastError(err);
        return false;
    }

    s.pumpThread.reset(CreateThread(nullptr, 0, PumpOutput, state_, 0, nullptr));
    s.started = true;
    return true;
}

bool ChildProcess::IsRunning() {
    State& s = *state_;
    if (!s.started || !s.process || s.exited) return false;
    if (WaitForSingleObject(s.process.get(), 0) != WAIT_OBJECT_0) return true;
    CollectExitCode(s);
    return false;
}

bool ChildProcess::Wait(uint32_t milliseconds) {
    State& s = *state_;
    if (!s.started || !s.process) return true;
    if (WaitForSingleObject(s.process.get(), milliseconds) != WAIT_OBJECT_0) return false;
    CollectExitCode(s);
    return true;
}

void ChildProcess::Terminate(uint32_t exitCode) {
    State& s = *state_;
    if (s.job) TerminateJobObject(s.job.get(), exitCode);
    if (s.process) {
        TerminateProcess(s.process.get(), exitCode);
        WaitForSingleObject(s.process.get(), 5000);
        CollectExitCode(s);
    }
}

void ChildProcess::Close() {
    State& s = *state_;
    if (s.process) {
        if (!s.exited) {
            TerminateProcess(s.process.get(), 1);
            WaitForSingleObject(s.process.get(), 3000);
        }
        s.process.reset();
    }
    s.thread.reset();
    // Closing a kill-on-close job ends every process in it, and with them the last pipe writers.
    s.job.reset();
    s.pipeWrite.reset();
    if (s.pumpThread) {
        // The pump thread touches this record, so it is never freed before the thread ends. A writer
        // outside the job (no job could be made) may keep the read blocked: cancel it until it ends.
        if (WaitForSingleObject(s.pumpThread.get(), 5000) == WAIT_TIMEOUT) {
            while (WaitForSingleObject(s.pumpThread.get(), 1000) == WAIT_TIMEOUT) {
                CancelSynchronousIo(s.pumpThread.get());
            }
        }
        s.pumpThread.reset();
    }
    s.pipeRead.reset();
    s.started = false;
}

uint32_t ChildProcess::ProcessId() const { return state_->processId; }
uint32_t ChildProcess::ExitCode() const { return state_->exitCode; }
bool ChildProcess::Exited() const { return state_->exited; }

std::wstring BuildEnvironmentBlock(const EnvironmentList& extraEnv) {
    wchar_t* inherited = GetEnvironmentStringsW();
    std::wstring block = MergeEnvironmentBlock(inherited, extraEnv);
    if (inherited != nullptr) FreeEnvironmentStringsW(inherited);
    return block;
}

bool RunAndCapture(const std::wstring& exe, const std::wstring& args, uint32_t timeoutMs, std::wstring* outText) {
    std::vector<std::wstring> lines;
    ChildProcess child;
    std::wstring error;
    if (!child.Start(exe, args, ExeDir(), EnvironmentList(),
                     [&lines](const std::wstring& line) { lines.push_back(line); }, &error)) {
        return false;
    }
    child.Wait(timeoutMs);
    child.Terminate(0);
    // Close joins the pump thread, so every line has been delivered after it.
    child.Close();
    std::wstring joined;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) joined += L" | ";
        joined += lines[i];
    }
    if (outText != nullptr) *outText = joined;
    return !joined.empty();
}

CapturedRun CaptureRun(const std::wstring& exe, const std::wstring& args, uint32_t timeoutMs) {
    CapturedRun run;
    std::vector<std::wstring> lines;
    ChildProcess child;
    if (!child.Start(exe, args, ExeDir(), EnvironmentList(),
                     [&lines](const std::wstring& line) { lines.push_back(line); }, &run.startErrorText)) {
        run.startError = GetLastError();
        return run;
    }
    run.started = true;
    run.timedOut = !child.Wait(timeoutMs);
    child.Terminate(0);
    run.exitCode = child.ExitCode();
    // Close joins the pump thread, so every line has been delivered after it.
    child.Close();
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) run.output += L" | ";
        run.output += lines[i];
    }
    return run;
}

}  // namespace mw
