// The install and uninstall flows without administrator rights, against Wine's registry and processes.
#include <gtest/gtest.h>

#include <string>

#include "base/handles.h"
#include "base/paths.h"
#include "base/platform.h"
#include "base/process.h"
#include "base/text.h"
#include "base/win.h"
#include "base/win_fixture.h"
#include "provision/sha256.h"
#include "winsvc/install.h"
#include "winsvc/service_control.h"
#include "winsvc/single_instance_win.h"

namespace mw {

namespace {

const wchar_t kChildDirVariable[] = L"MW_WINSVC_INSTALLER_DIR";

std::wstring FakeConnector() { return JoinPath(DirectoryOf(ExeDir()), L"support\\" MW_FAKECFD_NAME); }

bool CopyPadded(const std::wstring& from, const std::wstring& to, size_t padTo) {
    std::string bytes = ReadAll(from);
    if (bytes.empty()) return false;
    if (bytes.size() < padTo) bytes.append(padTo - bytes.size(), '\0');
    return WriteWholeFile(to, bytes);
}

UniqueHandle InheritableFile(const std::wstring& path) {
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    return UniqueHandle(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// The Run value as Wine's reg.exe shows it: the text after "REG_SZ".
std::wstring RunValueByRegExe() {
    std::wstring out;
    RunAndCapture(L"C:\\windows\\system32\\reg.exe",
                  L"query HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run /v mosswarden", 20000, &out);
    size_t type = out.find(L"REG_SZ");
    if (type == std::wstring::npos) return L"<none>";
    std::wstring rest = out.substr(type + 6);
    size_t end = rest.find(L" | ");
    return TrimText(end == std::wstring::npos ? rest : rest.substr(0, end));
}

uint32_t PidAfter(const std::wstring& text, const std::wstring& marker) {
    size_t at = text.find(marker);
    return at == std::wstring::npos ? 0 : static_cast<uint32_t>(wcstoul(text.c_str() + at + marker.size(), nullptr, 10));
}

// Sends standard output and standard error to files while `run` runs.
template <typename Run>
void Captured(const std::wstring& outPath, const std::wstring& errPath, Run run) {
    UniqueHandle out = InheritableFile(outPath);
    UniqueHandle err = InheritableFile(errPath);
    HANDLE oldOut = GetStdHandle(STD_OUTPUT_HANDLE);
    HANDLE oldErr = GetStdHandle(STD_ERROR_HANDLE);
    SetStdHandle(STD_OUTPUT_HANDLE, out.get());
    SetStdHandle(STD_ERROR_HANDLE, err.get());
    run();
    SetStdHandle(STD_OUTPUT_HANDLE, oldOut);
    SetStdHandle(STD_ERROR_HANDLE, oldErr);
}

class NonElevatedInstallTest : public TempDirTest {
protected:
    void TearDown() override {
        if (daemon_) {
            TerminateProcess(daemon_.get(), 0);
            WaitForSingleObject(daemon_.get(), 5000);
        }
        daemon_.reset();
        SetLogonAutostart(false);
        DeleteTunnelService();
        TempDirTest::TearDown();
    }

    // Runs the install in a child process of its own, as a user would, and waits for it to end.
    DWORD RunInstaller() {
        UniqueHandle out = InheritableFile(Path(L"install.out"));
        UniqueHandle err = InheritableFile(Path(L"install.err"));
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = out.get();
        startup.hStdError = err.get();
        std::wstring self = ModulePath();
        std::wstring commandLine = L"\"" + self + L"\" --gtest_filter=InstallerChild.RunsTheNonElevatedInstall";
        SetEnvironmentVariableW(kChildDirVariable, dir_.c_str());
        PROCESS_INFORMATION info = {};
        BOOL ok = CreateProcessW(self.c_str(), &commandLine[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                                 nullptr, &startup, &info);
        SetEnvironmentVariableW(kChildDirVariable, nullptr);
        if (!ok) return 0xFFFFFFFF;
        UniqueHandle process(info.hProcess);
        UniqueHandle thread(info.hThread);
        if (WaitForSingleObject(process.get(), 90000) != WAIT_OBJECT_0) return 0xFFFFFFFE;
        DWORD code = 0;
        GetExitCodeProcess(process.get(), &code);
        return code;
    }

    UniqueHandle daemon_;
};

}  // namespace

// Only does something when started by RunInstaller; the exit code is the install's.
TEST(InstallerChild, RunsTheNonElevatedInstall) {
    wchar_t dir[1024] = {};
    if (GetEnvironmentVariableW(kChildDirVariable, dir, 1024) == 0) GTEST_SKIP() << "runs only as a child";
    // The user owns the folder of a per-user install: no descriptor is set; a call would leave a mark.
    const std::wstring mark = JoinPath(dir, L"security-set.txt");
    auto setter = [&mark](const std::wstring&, const std::wstring&, std::wstring*) { return WriteWholeFile(mark, "x"); };
    int code = InstallFlowAs(JoinPath(dir, L"mosswarden.ini"), false, JoinPath(dir, L"mosswarden.exe"),
                             InstallOptions(), setter);
    ExitProcess(static_cast<UINT>(code));
}

TEST_F(NonElevatedInstallTest, RegistersTheRunValueAndStartsADaemonThatOutlivesTheInstaller) {
    // The "program" is the stand-in too: started with --daemon it writes its command line and stays.
    ASSERT_TRUE(CopyPadded(FakeConnector(), Path(L"cloudflared.exe"), 1100 * 1024));
    ASSERT_TRUE(CopyPadded(FakeConnector(), Path(L"mosswarden.exe"), 0));
    ASSERT_TRUE(WriteWholeFile(Path(L"fakecfd.txt"), WideToUtf8(L"args=" + Path(L"daemon-args.txt") + L"\n")));
    // "auto" means amd64 on 64-bit Windows, which the x86 stand-in is not; a reused connector
    // must match its checksum.
    std::wstring sha;
    ASSERT_TRUE(Sha256FileHex(Path(L"cloudflared.exe"), &sha));
    ASSERT_TRUE(WriteWholeFile(Path(L"mosswarden.ini"), WideToUtf8(L"[cloudflared]\r\narch=" +
                                                                   std::wstring(BuildMachineWord()) + L"\r\nsha256=" +
                                                                   sha + L"\r\n")));

    ASSERT_EQ(RunInstaller(), 0u) << ReadAll(Path(L"install.err"));
    std::wstring out = Utf8ToWide(ReadAll(Path(L"install.out")));
    EXPECT_EQ(ReadAll(Path(L"install.err")),
              "当前不是管理员：无法安装服务，改为注册登录自启（--daemon）。\r\n"
              "要装成服务，请右键以管理员身份运行本程序。\r\n");
    EXPECT_NE(out.find(L"\r\n已写入 HKCU\\...\\Run\\mosswarden\r\n现在启动一次后台守护…\r\n后台守护已拉起（PID "),
              std::wstring::npos)
        << WideToUtf8(out);
    EXPECT_EQ(out.find(L"服务已注册"), std::wstring::npos);
    EXPECT_FALSE(FileExists(Path(L"security-set.txt")));

    const std::wstring program = Path(L"mosswarden.exe");
    EXPECT_EQ(RunValueByRegExe(), L"\"" + program + L"\" --daemon");

    uint32_t pid = PidAfter(out, L"后台守护已拉起（PID ");
    ASSERT_NE(pid, 0u);
    daemon_.reset(OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, pid));
    ASSERT_TRUE(daemon_.valid());
    EXPECT_EQ(WaitForSingleObject(daemon_.get(), 1000), static_cast<DWORD>(WAIT_TIMEOUT)) << "daemon ended with the installer";
    std::string args;
    for (int i = 0; i < 100 && args.empty(); ++i, Sleep(100)) args = ReadAll(Path(L"daemon-args.txt"));
    EXPECT_EQ(args, WideToUtf8(L"\"" + program + L"\" --daemon"));
}

TEST_F(NonElevatedInstallTest, RepeatedInstallStartsNoSecondDaemonBesideTheRunningOne) {
    ASSERT_TRUE(CopyPadded(FakeConnector(), Path(L"cloudflared.exe"), 1100 * 1024));
    std::wstring sha;
    ASSERT_TRUE(Sha256FileHex(Path(L"cloudflared.exe"), &sha));
    ASSERT_TRUE(WriteWholeFile(Path(L"mosswarden.ini"), WideToUtf8(L"[cloudflared]\r\narch=" +
                                                                   std::wstring(BuildMachineWord()) + L"\r\nsha256=" +
                                                                   sha + L"\r\n")));
    // This process stands in for the daemon of the first install.
    SupervisorLock lock;
    ASSERT_EQ(AcquireSupervisorLock(Path(L"mosswarden.ini"), false, &lock, nullptr), LockResult::Acquired);

    ASSERT_EQ(RunInstaller(), 0u) << ReadAll(Path(L"install.err"));
    std::wstring out = Utf8ToWide(ReadAll(Path(L"install.out")));
    EXPECT_NE(out.find(L"\r\n已写入 HKCU\\...\\Run\\mosswarden\r\n" +
                       AlreadySupervisingText(Path(L"mosswarden.ini"), GetCurrentProcessId()) + L"\r\n"),
              std::wstring::npos)
        << WideToUtf8(out);
    EXPECT_EQ(out.find(L"后台守护已拉起"), std::wstring::npos);
}

TEST_F(NonElevatedInstallTest, UninstallRemovesOnlyTheRunValue) {
    ASSERT_TRUE(SetLogonAutostartFor(Path(L"mosswarden.exe"), true));
    ASSERT_TRUE(InstallTunnelService(Path(L"mosswarden.exe")));
    int code = -1;
    Captured(Path(L"u.out"), Path(L"u.err"), [&code, this] { code = UninstallFlowAs(false, Path(L"mosswarden.ini")); });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(ReadAll(Path(L"u.out")), "");
    EXPECT_EQ(ReadAll(Path(L"u.err")), "不是管理员，只能清掉登录自启项；服务需要管理员才能删。\r\n");
    EXPECT_EQ(RunValueByRegExe(), L"<none>");
    EXPECT_TRUE(ServiceExists());
    // Removing a value that is not there succeeds.
    EXPECT_TRUE(SetLogonAutostart(false));
}

}  // namespace mw
