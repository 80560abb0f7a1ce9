// The child process runner against the connector stand-in: lines, exit codes, jobs, handles, capture.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/handles.h"
#include "base/logger.h"
#include "base/paths.h"
#include "base/process.h"
#include "base/text.h"
#include "base/win.h"
#include "win_fixture.h"

namespace mw {
namespace {

// The stand-in is built beside the tests: build/<dir>/tests/support/fakecfd.exe.
std::wstring FakeConnector() { return JoinPath(DirectoryOf(ExeDir()), L"support\\" MW_FAKECFD_NAME); }

class ChildProcessTest : public TempDirTest {
protected:
    // Extra environment that points the stand-in at a script written from `lines`.
    EnvironmentList Script(const std::string& lines) {
        std::wstring path = Path(FormatText(L"script%u.txt", ++scripts_));
        EXPECT_TRUE(WriteWholeFile(path, lines));
        return {{L"FAKECFD_SCRIPT", path}};
    }
    LineHandler Collect() {
        return [this](const std::wstring& line) { lines_.push_back(line); };
    }
    std::vector<std::wstring> lines_;
    unsigned scripts_ = 0;
};

TEST_F(ChildProcessTest, DeliversLinesOfBothStreamsAndTheExitCode) {
    ChildProcess child;
    ASSERT_TRUE(child.Start(FakeConnector(), L"tunnel run", dir_,
                            Script("print=alpha\nstdout=beta  \n"
                                   "print=\xE9\x9A\xA7\xE9\x81\x93\nraw=tail\nexit=7\n"),
                            Collect()));
    EXPECT_NE(child.ProcessId(), 0u);
    EXPECT_TRUE(child.Wait(20000));
    EXPECT_FALSE(child.IsRunning());
    EXPECT_FALSE(child.IsRunning());
    EXPECT_TRUE(child.Exited());
    EXPECT_EQ(child.ExitCode(), 7u);
    child.Close();
    EXPECT_EQ(lines_, (std::vector<std::wstring>{L"alpha", L"beta", L"隧道", L"tail"}));
}

TEST_F(ChildProcessTest, TokenReplacesAnInheritedOneAndStaysOffTheCommandLine) {
    ASSERT_TRUE(SetEnvironmentVariableW(L"tunnel_token", L"stale-value"));
    EnvironmentList env = Script("token=" + WideToUtf8(Path(L"token.txt")) + "\nargs=" +
                                 WideToUtf8(Path(L"args.txt")) + "\nexit=0\n");
    env.emplace_back(L"TUNNEL_TOKEN", L"eyJhIjoiY29uZmlndXJlZCJ9");
    ChildProcess child;
    ASSERT_TRUE(child.Start(FakeConnector(), L"--no-autoupdate tunnel run", dir_, env, LineHandler()));
    EXPECT_TRUE(child.Wait(20000));
    child.Close();
    SetEnvironmentVariableW(L"tunnel_token", nullptr);
    EXPECT_EQ(ReadAll(Path(L"token.txt")), "eyJhIjoiY29uZmlndXJlZCJ9");
    std::string args = ReadAll(Path(L"args.txt"));
    EXPECT_EQ(args, "\"" + WideToUtf8(FakeConnector()) + "\" --no-autoupdate tunnel run");
}

TEST_F(ChildProcessTest, EmptyArgsGiveJustTheQuotedProgram) {
    ChildProcess child;
    ASSERT_TRUE(child.Start(FakeConnector(), L"", L"", Script("args=" + WideToUtf8(Path(L"args.txt")) + "\nexit=0\n"),
                            LineHandler()));
    EXPECT_TRUE(child.Wait(20000));
    child.Close();
    EXPECT_EQ(ReadAll(Path(L"args.txt")), "\"" + WideToUtf8(FakeConnector()) + "\"");
}

TEST_F(ChildProcessTest, MissingProgramFailsWithTheCreateProcessText) {
    ChildProcess child;
    std::wstring error;
    EXPECT_FALSE(child.Start(Path(L"missing.exe"), L"", L"", {}, Collect(), &error));
    EXPECT_EQ(error, L"CreateProcess 失败: " + Win32ErrorText(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(child.IsRunning());
    EXPECT_TRUE(child.Wait(0));
    child.Close();
}

TEST_F(ChildProcessTest, TerminateKillsARunningChildWithTheCode) {
    ChildProcess child;
    ASSERT_TRUE(child.Start(FakeConnector(), L"tunnel run", dir_, Script("print=up\n"), Collect()));
    EXPECT_FALSE(child.Wait(200));
    EXPECT_TRUE(child.IsRunning());
    child.Terminate(42);
    EXPECT_TRUE(child.Exited());
    EXPECT_EQ(child.ExitCode(), 42u);
    EXPECT_FALSE(child.IsRunning());
    child.Close();
    child.Close();
}

TEST_F(ChildProcessTest, CloseKillsAGrandchildThatHoldsThePipe) {
    std::wstring pidFile = Path(L"grandchild.txt");
    ChildProcess child;
    ASSERT_TRUE(child.Start(FakeConnector(), L"tunnel run", dir_,
                            Script("grandchild=600000\ngrandpid=" + WideToUtf8(pidFile) + "\nprint=parent done\nexit=3\n"),
                            Collect()));
    ASSERT_TRUE(child.Wait(20000));
    EXPECT_EQ(child.ExitCode(), 3u);
    DWORD pid = static_cast<DWORD>(std::stoul(ReadAll(pidFile)));
    ASSERT_NE(pid, 0u);
    UniqueHandle grandchild(OpenProcess(SYNCHRONIZE, FALSE, pid));
    ASSERT_TRUE(grandchild.valid());
    EXPECT_EQ(WaitForSingleObject(grandchild.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    child.Close();  // joins the pump thread, which ends only once the grandchild's pipe end is gone
    EXPECT_EQ(WaitForSingleObject(grandchild.get(), 10000), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_EQ(lines_, (std::vector<std::wstring>{L"parent done"}));
}

TEST_F(ChildProcessTest, OnlyThePipeAndNulAreInherited) {
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    UniqueHandle event(CreateEventW(&inherit, TRUE, FALSE, nullptr));
    ASSERT_TRUE(event.valid());
    ChildProcess child;
    ASSERT_TRUE(child.Start(FakeConnector(), L"tunnel run", dir_, Script("print=up\n"), Collect()));
    UniqueHandle process(OpenProcess(PROCESS_DUP_HANDLE, FALSE, child.ProcessId()));
    ASSERT_TRUE(process.valid());
    // An inherited handle keeps its value in the child: signal whatever the child holds there.
    UniqueHandle copy;
    if (DuplicateHandle(process.get(), event.get(), GetCurrentProcess(), copy.put(), 0, FALSE,
                        DUPLICATE_SAME_ACCESS)) {
        SetEvent(copy.get());
    }
    child.Close();
    EXPECT_EQ(WaitForSingleObject(event.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "the child inherited it";
}

// Set when this test runs itself again as a child (in the job of its own runner), with the log folder.
const wchar_t kInJobVariable[] = L"MW_TEST_INSIDE_A_JOB";

TEST_F(ChildProcessTest, InsideAJobTheChildIsTrackedAndAFailedJoinWarnsOnce) {
    wchar_t logDir[MAX_PATH] = {};
    if (GetEnvironmentVariableW(kInJobVariable, logDir, MAX_PATH) > 0) {
        Logger::Instance().Open(logDir, L"mosswarden", 16, false, L"inner.log");
        ChildProcess child;
        ASSERT_TRUE(child.Start(FakeConnector(), L"tunnel run", dir_, Script("print=tracked\nexit=9\n"), Collect()));
        EXPECT_NE(child.ProcessId(), 0u);
        EXPECT_TRUE(child.Wait(20000));
        EXPECT_EQ(child.ExitCode(), 9u);
        child.Close();
        Logger::Instance().Close();
        EXPECT_EQ(lines_, (std::vector<std::wstring>{L"tracked"}));
        return;
    }
    ChildProcess runner;
    std::vector<std::wstring> runnerLines;
    ASSERT_TRUE(runner.Start(ModulePath(),
                             L"--gtest_brief=1 --gtest_filter=ChildProcessTest."
                             L"InsideAJobTheChildIsTrackedAndAFailedJoinWarnsOnce",
                             dir_, {{kInJobVariable, dir_}},
                             [&runnerLines](const std::wstring& line) { runnerLines.push_back(line); }));
    ASSERT_TRUE(runner.Wait(60000));
    runner.Close();
    std::wstring output;
    for (const std::wstring& line : runnerLines) output += line + L"\n";
    EXPECT_EQ(runner.ExitCode(), 0u) << WideToUtf8(output);
    // Wine nests jobs as Windows 8 does, so the join succeeds there and nothing is logged; Windows 7
    // refuses it, and then exactly one WARN says so.
    std::string log = ReadAll(Path(L"inner.log"));
    if (!log.empty()) {
        EXPECT_EQ(log.find(" [WARN] AssignProcessToJobObject "), 23u) << log;
        EXPECT_EQ(log.find("\r\n"), log.size() - 2) << log;
    }
}

// Wine's GetProcessHandleCount always says 0, but it hands out free handle slots lowest first, so
// the last of a batch of fresh handles sits higher when handles leak (one probe alone may land in a
// hole below the leaked ones).
uintptr_t FreshHandleValue() {
    std::vector<UniqueHandle> probes;
    for (int i = 0; i < 512; ++i) probes.emplace_back(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    return reinterpret_cast<uintptr_t>(probes.back().get());
}

TEST_F(ChildProcessTest, RepeatedRunsOfOneRecordLeaveNoHandleBehind) {
    EnvironmentList env = Script("print=up\n");
    ChildProcess child;
    // One warm-up run, so lazily created handles of the runtime are not counted.
    ASSERT_TRUE(child.Start(FakeConnector(), L"tunnel run", dir_, env, Collect()));
    child.Terminate(0);
    child.Close();
    uintptr_t before = FreshHandleValue();
    DWORD countBefore = 0;
    GetProcessHandleCount(GetCurrentProcess(), &countBefore);
    for (int i = 0; i < 100; ++i) {
        ASSERT_TRUE(child.Start(FakeConnector(), L"tunnel run", dir_, env, Collect()));
        if (i % 2 == 0) child.Terminate(0);  // odd runs are killed by Close or the next Start
        if (i % 4 == 1) child.Close();
    }
    child.Close();
    DWORD countAfter = 0;
    GetProcessHandleCount(GetCurrentProcess(), &countAfter);
    EXPECT_EQ(FreshHandleValue(), before);
    EXPECT_LE(countAfter, countBefore);
}

class RunAndCaptureTest : public ChildProcessTest {
protected:
    void TearDown() override {
        SetEnvironmentVariableW(L"FAKECFD_SCRIPT", nullptr);
        ChildProcessTest::TearDown();
    }
};

TEST_F(RunAndCaptureTest, JoinsLinesAndKillsAHangingProgramAtTheTimeOut) {
    struct Case {
        const char* what;
        std::string script;
        uint32_t timeoutMs;
        bool expected;
        std::wstring text;
    };
    const std::vector<Case> cases = {
        {"two lines", "print=alpha\nstdout=beta\nexit=0\n", 20000, true, L"alpha | beta"},
        {"nothing printed", "exit=0\n", 20000, false, L""},
        {"hangs after printing", "print=partial\n", 1500, true, L"partial"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EnvironmentList env = Script(c.script);
        ASSERT_TRUE(SetEnvironmentVariableW(L"FAKECFD_SCRIPT", env[0].second.c_str()));
        std::wstring text = L"untouched";
        EXPECT_EQ(RunAndCapture(FakeConnector(), L"tunnel run", c.timeoutMs, &text), c.expected);
        EXPECT_EQ(text, c.text);
    }
    std::wstring text = L"untouched";
    std::wstring startError;
    EXPECT_FALSE(RunAndCapture(Path(L"missing.exe"), L"--version", 1000, &text, &startError));
    EXPECT_EQ(text, L"untouched");
    EXPECT_EQ(startError, L"CreateProcess 失败: " + Win32ErrorText(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(RunAndCapture(Path(L"missing.exe"), L"--version", 1000, &text));
    EXPECT_TRUE(RunAndCapture(FakeConnector(), L"--version", 20000, &text));
    EXPECT_EQ(text, L"cloudflared version 2023.10.0 (built 2023-10-31-1141 UTC)");
}

}  // namespace
}  // namespace mw
