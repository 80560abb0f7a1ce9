// Service state names and the registered command line.
#include <gtest/gtest.h>

#include "winsvc/service_control.h"

namespace mw {

TEST(ServiceStateNameTest, NamesEveryStateAndNumbersTheRest) {
    const struct {
        uint32_t state;
        const wchar_t* name;
    } cases[] = {
        {1, L"STOPPED"},        {2, L"START_PENDING"}, {3, L"STOP_PENDING"}, {4, L"RUNNING"},
        {5, L"CONTINUE_PENDING"}, {6, L"PAUSE_PENDING"}, {7, L"PAUSED"},       {0, L"UNKNOWN(0)"},
        {9, L"UNKNOWN(9)"},     {4294967295u, L"UNKNOWN(4294967295)"},
    };
    for (const auto& c : cases) EXPECT_EQ(ServiceStateName(c.state), c.name) << c.state;
}

TEST(RegistrationLineTest, NamesOnlyWhatTookEffect) {
    const struct {
        bool delayed, failure;
        const wchar_t* line;
    } cases[] = {
        {true, true, L"服务已注册: mosswarden (自动启动 + 延迟启动 + 崩溃重启)"},
        {false, true, L"服务已注册: mosswarden (自动启动 + 崩溃重启)（延迟启动未生效）"},
        {true, false, L"服务已注册: mosswarden (自动启动 + 延迟启动)（崩溃重启未生效）"},
        {false, false, L"服务已注册: mosswarden (自动启动)（延迟启动未生效）（崩溃重启未生效）"},
    };
    for (const auto& c : cases) {
        ServiceSettingsResult applied;
        applied.description = true;
        applied.delayedStart = c.delayed;
        applied.failureActions = c.failure;
        EXPECT_EQ(RegistrationLine(applied), c.line);
    }
}

TEST(ServiceCommandReportTest, StopAndRestartReportTheStateReached) {
    const struct {
        const char* what;
        CommandReport report;
        int exitCode;
        const wchar_t* out;
        const wchar_t* err;
    } cases[] = {
        {"stopped", StopCommandReport(1), 0, L"已停止", L""},
        {"still stopping", StopCommandReport(3), 5, L"", L"服务未停止，当前状态: STOP_PENDING"},
        {"still running", StopCommandReport(4), 5, L"", L"服务未停止，当前状态: RUNNING"},
        {"restarted", RestartCommandReport(1, true, false, L""), 0, L"已重启", L""},
        {"restart, stop not reached", RestartCommandReport(3, false, false, L""), 5, L"",
         L"未能重启: 服务未停止，当前状态: STOP_PENDING"},
        {"restart, start failed", RestartCommandReport(1, false, false, L"服务未安装"), 5, L"", L"服务未安装"},
        {"restart, someone else started it", RestartCommandReport(1, true, true, L""), 5, L"",
         L"未能重启: 服务停止后已被别处再次启动"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.report.exitCode, c.exitCode) << c.what;
        EXPECT_EQ(c.report.out, c.out) << c.what;
        EXPECT_EQ(c.report.err, c.err) << c.what;
    }
}

TEST(ServiceCommandLineTest, QuotesAPathWithSpaces) {
    EXPECT_EQ(ServiceCommandLine(L"C:\\Program Files\\moss warden\\mosswarden.exe"),
              L"\"C:\\Program Files\\moss warden\\mosswarden.exe\" --service");
    EXPECT_EQ(ServiceCommandLine(L"C:\\m\\mosswarden.exe", L"D:\\conf dir\\site.ini"),
              L"\"C:\\m\\mosswarden.exe\" --service --ini \"D:\\conf dir\\site.ini\"");
}

}  // namespace mw
