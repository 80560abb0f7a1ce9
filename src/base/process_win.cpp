// The child process runner: pipe, hidden process, kill-on-close job and the output pump thread.
#include <vector>

#include "base/handles.h"
#include "base/logger.h"
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

    static DWORD WINAPI PumpOutput(void* parameter) {
        auto* state = static_cast<State*>(parameter);
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

    void CollectExitCode() {
        DWORD code = 0;
        if (GetExitCodeProcess(process.get(), &code)) exitCode = code;
        exited = true;
    }

    // A kill-on-close job for the suspended child. Without one the child still runs and is tracked,
    // but what it starts itself may outlive Close: Windows 7 has no nested jobs, so a supervisor that
    // was itself started inside a job cannot put its child into another one.
    void JoinJob() {
        const wchar_t* failed = nullptr;
        DWORD err = ERROR_SUCCESS;
        job.reset(CreateJobObjectW(nullptr, nullptr));
        if (!job) {
            err = GetLastError();
            failed = L"CreateJobObject";
        } else {
            JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
            limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
            if (!SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof(limits))) {
                err = GetLastError();
                failed = L"SetInformationJobObject";
            } else if (!AssignProcessToJobObject(job.get(), process.get())) {
                err = GetLastError();
                failed = L"AssignProcessToJobObject";
            }
        }
        if (failed == nullptr) return;
        job.reset();
        Logger::Instance().Write(L"WARN", FormatText(L"%s 失败, 子进程 %u 不在作业中运行: ", failed,
                                                     unsigned(processId)) + Win32ErrorText(err));
    }
};

namespace {

// The child inherits exactly the listed handles through PROC_THREAD_ATTRIBUTE_HANDLE_LIST, not every
// inheritable handle of this process (another thread may be creating a pipe of its own at the same
// moment). Wine 8 honours the list as Windows 7 does (ChildProcessTest.OnlyThePipeAndNulAreInherited).
class InheritList {
public:
    explicit InheritList(std::vector<HANDLE> handles) : handles_(std::move(handles)) {}
    ~InheritList() {
        if (ready_) DeleteProcThreadAttributeList(list());
    }
    InheritList(const InheritList&) = delete;
    InheritList& operator=(const InheritList&) = delete;

    bool Prepare(DWORD* err) {
        SIZE_T size = 0;
        InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        storage_.resize(size);
        if (!InitializeProcThreadAttributeList(list(), 1, 0, &size)) {
            *err = GetLastError();
            return false;
        }
        ready_ = true;
        if (!UpdateProcThreadAttribute(list(), 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles_.data(),
                                       handles_.size() * sizeof(HANDLE), nullptr, nullptr)) {
            *err = GetLastError();
            return false;
        }
        return true;
    }
    LPPROC_THREAD_ATTRIBUTE_LIST list() {
        return reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data());
    }

private:
    std::vector<HANDLE> handles_;
    std::vector<unsigned char> storage_;
    bool ready_ = false;
};

}  // namespace

ChildProcess::ChildProcess() : state_(new State) {}

ChildProcess::~ChildProcess() { Close(); }

bool ChildProcess::Start(const std::wstring& exe, const std::wstring& args, const std::wstring& workingDir,
                         const EnvironmentList& extraEnv, LineHandler handler, std::wstring* errorText) {
    Close();
    State& s = *state_;
    s.handler = std::move(handler);
    s.exitCode = 0;
    s.exited = false;
    auto fail = [errorText](const wchar_t* what, DWORD err) {
        if (errorText != nullptr) *errorText = std::wstring(what) + L" 失败: " + Win32ErrorText(err);
        SetLastError(err);
        return false;
    };

    SECURITY_ATTRIBUTES inherit = {};
    inherit.nLength = sizeof(inherit);
    inherit.bInheritHandle = TRUE;
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
        DWORD err = GetLastError();
        return fail(L"CreatePipe", err);
    }
    s.pipeRead.reset(readEnd);
    s.pipeWrite.reset(writeEnd);
    // The child must not hold our read end, or the pipe would never report end-of-file.
    if (!SetHandleInformation(s.pipeRead.get(), HANDLE_FLAG_INHERIT, 0)) {
        DWORD err = GetLastError();
        s.pipeRead.reset();
        s.pipeWrite.reset();
        return fail(L"SetHandleInformation", err);
    }

    // Standard input reads NUL; without it the child gets no standard input at all.
    UniqueHandle nul(CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING,
                                 0, nullptr));
    std::vector<HANDLE> inherited = {s.pipeWrite.get()};
    if (nul) inherited.push_back(nul.get());
    InheritList inheritList(inherited);
    DWORD listErr = ERROR_SUCCESS;
    if (!inheritList.Prepare(&listErr)) {
        s.pipeRead.reset();
        s.pipeWrite.reset();
        return fail(L"UpdateProcThreadAttribute", listErr);
    }

    STARTUPINFOEXW startup = {};
    startup.StartupInfo.cb = sizeof(startup);
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = nul ? nul.get() : nullptr;
    startup.StartupInfo.hStdOutput = s.pipeWrite.get();
    startup.StartupInfo.hStdError = s.pipeWrite.get();
    startup.lpAttributeList = inheritList.list();

    std::wstring commandLine = L"\"" + exe + L"\"";
    if (!args.empty()) commandLine += L" " + args;
    std::wstring environment = BuildEnvironmentBlock(extraEnv);

    // Created suspended so that the child is in the job before it can start anything of its own.
    PROCESS_INFORMATION processInfo = {};
    BOOL created = CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, TRUE,
                                  CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT | CREATE_SUSPENDED |
                                      EXTENDED_STARTUPINFO_PRESENT,
                                  &environment[0], workingDir.empty() ? nullptr : workingDir.c_str(),
                                  &startup.StartupInfo, &processInfo);
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
        return fail(L"CreateProcess", createErr);
    }

    s.JoinJob();
    s.started = true;
    // The pump runs before the child does, so a start that cannot read the output never lets it run.
    s.pumpThread.reset(CreateThread(nullptr, 0, State::PumpOutput, state_.get(), 0, nullptr));
    if (!s.pumpThread) {
        DWORD err = GetLastError();
        Close();
        return fail(L"CreateThread", err);
    }
    if (ResumeThread(s.thread.get()) == static_cast<DWORD>(-1)) {
        DWORD err = GetLastError();
        Close();
        return fail(L"ResumeThread", err);
    }
    return true;
}

bool ChildProcess::IsRunning() {
    State& s = *state_;
    if (!s.started || !s.process || s.exited) return false;
    if (WaitForSingleObject(s.process.get(), 0) != WAIT_OBJECT_0) return true;
    s.CollectExitCode();
    return false;
}

bool ChildProcess::Wait(uint32_t milliseconds) {
    State& s = *state_;
    if (!s.started || !s.process) return true;
    if (WaitForSingleObject(s.process.get(), milliseconds) != WAIT_OBJECT_0) return false;
    s.CollectExitCode();
    return true;
}

void ChildProcess::Terminate(uint32_t exitCode) {
    State& s = *state_;
    if (s.job) TerminateJobObject(s.job.get(), exitCode);
    if (s.process) {
        TerminateProcess(s.process.get(), exitCode);
        WaitForSingleObject(s.process.get(), 5000);
        s.CollectExitCode();
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

bool RunAndCapture(const std::wstring& exe, const std::wstring& args, uint32_t timeoutMs, std::wstring* outText,
                   std::wstring* startError) {
    CapturedRun run = CaptureRun(exe, args, timeoutMs);
    if (!run.started) {
        if (startError != nullptr) *startError = run.startErrorText;
        return false;
    }
    if (outText != nullptr) *outText = run.output;
    return !run.output.empty();
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
