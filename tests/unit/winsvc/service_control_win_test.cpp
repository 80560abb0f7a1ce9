// Service control operations against Wine's real service control manager.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "base/handles.h"
#include "base/text.h"
#include "base/win.h"
#include "winsvc/service_control.h"
#include "winsvc/service_settings_win.h"

namespace mw {

namespace {

const wchar_t kFakeExe[] = L"C:\\Program Files\\moss warden\\mosswarden.exe";

std::wstring RegistryText(const wchar_t* name) {
    wchar_t buffer[1024] = {};
    DWORD size = sizeof(buffer);
    LSTATUS rc = RegGetValueW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Services\\mosswarden", name,
                              RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr, buffer, &size);
    return rc == ERROR_SUCCESS ? std::wstring(buffer) : L"<missing>";
}

DWORD RegistryNumber(const wchar_t* name) {
    DWORD value = 0xFFFFFFFF;
    DWORD size = sizeof(value);
    RegGetValueW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Services\\mosswarden", name, RRF_RT_REG_DWORD,
                 nullptr, &value, &size);
    return value;
}

// The service name is global to the Wine prefix: every test starts and ends without it.
class ServiceControlTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(DeleteTunnelService()); }
    void TearDown() override { DeleteTunnelService(); }
};

}  // namespace

TEST_F(ServiceControlTest, AbsentServiceIsReportedAndDeletingItSucceeds) {
    EXPECT_FALSE(ServiceExists());
    std::wstring error;
    uint32_t state = 77;
    EXPECT_FALSE(QueryTunnelServiceState(&state, &error));
    EXPECT_EQ(error, L"服务未安装");
    EXPECT_EQ(state, 77u);
    error.clear();
    EXPECT_FALSE(StartTunnelService(&error));
    EXPECT_EQ(error, L"服务未安装");
    error.clear();
    EXPECT_FALSE(StopTunnelService(&error));
    EXPECT_EQ(error, L"服务未安装");
    std::wstring path = L"untouched";
    error.clear();
    EXPECT_FALSE(QueryTunnelServicePath(&path, &error));
    EXPECT_EQ(path, L"untouched");
    EXPECT_EQ(error, L"");
    EXPECT_TRUE(DeleteTunnelService(&error));
}

TEST_F(ServiceControlTest, InstallRegistersQueriesRefusesASecondAndDeletes) {
    std::wstring error;
    ASSERT_TRUE(InstallTunnelService(kFakeExe, &error)) << WideToUtf8(error);
    EXPECT_TRUE(ServiceExists());

    const std::wstring commandLine = L"\"C:\\Program Files\\moss warden\\mosswarden.exe\" --service";
    EXPECT_EQ(RegistryText(L"ImagePath"), commandLine);
    EXPECT_EQ(RegistryText(L"DisplayName"), L"mosswarden (Cloudflare Tunnel 守护)");
    EXPECT_EQ(RegistryText(L"Description"), L"自动下载并守护 cloudflared，把本机端口通过 Cloudflare Tunnel 暴露出去");
    EXPECT_EQ(RegistryText(L"ObjectName"), L"LocalSystem");
    EXPECT_EQ(RegistryNumber(L"Start"), 2u);
    EXPECT_EQ(RegistryNumber(L"Type"), 0x10u);
    EXPECT_EQ(RegistryNumber(L"ErrorControl"), 1u);

    std::wstring path;
    EXPECT_TRUE(QueryTunnelServicePath(&path, &error));
    EXPECT_EQ(path, commandLine);
    uint32_t state = 0;
    EXPECT_TRUE(QueryTunnelServiceState(&state, &error));
    EXPECT_EQ(state, static_cast<uint32_t>(SERVICE_STOPPED));

    EXPECT_FALSE(InstallTunnelService(kFakeExe, &error));
    EXPECT_EQ(error, L"服务已存在（先 --uninstall 再装）");
    // Stopping a stopped service succeeds at once and reports STOPPED.
    state = 0;
    EXPECT_TRUE(StopTunnelService(&error, &state));
    EXPECT_EQ(state, static_cast<uint32_t>(SERVICE_STOPPED));

    bool existed = false;
    EXPECT_TRUE(DeleteTunnelService(&error, &existed));
    EXPECT_TRUE(existed);
    EXPECT_FALSE(ServiceExists());
    EXPECT_TRUE(DeleteTunnelService(&error, &existed));
    EXPECT_FALSE(existed);
}

TEST_F(ServiceControlTest, InstallWaitsWhileTheOldServiceIsMarkedForDelete) {
    ASSERT_TRUE(InstallTunnelService(kFakeExe));
    UniqueScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    ASSERT_TRUE(manager.valid());
    // An open handle keeps a deleted service registered until it is closed.
    UniqueScHandle held(OpenServiceW(manager.get(), kServiceName, SERVICE_QUERY_STATUS));
    ASSERT_TRUE(held.valid());
    ASSERT_TRUE(DeleteTunnelService());

    SetLastError(0);
    UniqueScHandle direct(CreateServiceW(manager.get(), kServiceName, kServiceDisplayName, SERVICE_ALL_ACCESS,
                                         SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                         L"x.exe", nullptr, nullptr, nullptr, nullptr, nullptr));
    DWORD err = GetLastError();
    ASSERT_FALSE(direct.valid());
    ASSERT_EQ(err, static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE));

    std::thread release([&held] {
        Sleep(2500);
        held.reset();
    });
    std::wstring error;
    bool installed = InstallTunnelService(kFakeExe, &error);
    release.join();
    EXPECT_TRUE(installed) << WideToUtf8(error);
    std::wstring path;
    EXPECT_TRUE(QueryTunnelServicePath(&path));
    EXPECT_EQ(path, ServiceCommandLine(kFakeExe));
}

// Wine keeps neither the delayed flag nor the recovery actions, so the calls themselves are checked.
namespace {

std::vector<std::wstring> g_settingsCalls;
DWORD g_refusedLevel = 0;

BOOL WINAPI RecordSetting(SC_HANDLE, DWORD level, LPVOID info) {
    if (level == SERVICE_CONFIG_DESCRIPTION) {
        g_settingsCalls.push_back(L"description " + std::wstring(static_cast<SERVICE_DESCRIPTIONW*>(info)->lpDescription));
    } else if (level == SERVICE_CONFIG_DELAYED_AUTO_START_INFO) {
        g_settingsCalls.push_back(FormatText(
            L"delayed %d", static_cast<int>(static_cast<SERVICE_DELAYED_AUTO_START_INFO*>(info)->fDelayedAutostart)));
    } else if (level == SERVICE_CONFIG_FAILURE_ACTIONS) {
        auto* failure = static_cast<SERVICE_FAILURE_ACTIONSW*>(info);
        std::wstring text = FormatText(L"failure reset %u msg %d cmd %d:", unsigned(failure->dwResetPeriod),
                                       failure->lpRebootMsg != nullptr, failure->lpCommand != nullptr);
        for (DWORD i = 0; i < failure->cActions; ++i) {
            text += FormatText(L" %d/%u", static_cast<int>(failure->lpsaActions[i].Type),
                               unsigned(failure->lpsaActions[i].Delay));
        }
        g_settingsCalls.push_back(text);
    } else {
        g_settingsCalls.push_back(FormatText(L"level %u", unsigned(level)));
    }
    if (level != g_refusedLevel) return TRUE;
    SetLastError(ERROR_INVALID_LEVEL);
    return FALSE;
}

}  // namespace

TEST(ServiceSettingsTest, SetsDescriptionDelayedStartAndThreeRestarts) {
    const struct {
        DWORD refused;
        bool description, delayed, failure;
    } cases[] = {
        {0, true, true, true},
        {SERVICE_CONFIG_DESCRIPTION, false, true, true},
        {SERVICE_CONFIG_DELAYED_AUTO_START_INFO, true, false, true},
        {SERVICE_CONFIG_FAILURE_ACTIONS, true, true, false},
    };
    for (const auto& c : cases) {
        g_settingsCalls.clear();
        g_refusedLevel = c.refused;
        ServiceSettingsResult result = ApplyServiceSettings(nullptr, RecordSetting);
        // A refused setting does not keep the later ones from being tried.
        EXPECT_EQ(g_settingsCalls, (std::vector<std::wstring>{
                                       std::wstring(L"description ") + kServiceDescription,
                                       L"delayed 1",
                                       L"failure reset 86400 msg 0 cmd 0: 1/5000 1/15000 1/60000",
                                   }));
        EXPECT_EQ(result.description, c.description) << c.refused;
        EXPECT_EQ(result.delayedStart, c.delayed) << c.refused;
        EXPECT_EQ(result.failureActions, c.failure) << c.refused;
    }
    g_refusedLevel = 0;
}

}  // namespace mw
