// The Event Log message table carried by the built mosswarden.exe: one text per supervisor event.
#include <gtest/gtest.h>

#include <string>

#include "base/events.h"
#include "base/handles.h"
#include "base/paths.h"
#include "base/text.h"
#include "base/win.h"

namespace mw {
namespace {

TEST(MessageTable, TheExecutableCarriesEveryEventText) {
    // tests\unit\unit_app.exe and src\app\mosswarden.exe share the build folder.
    const std::wstring exe = JoinPath(DirectoryOf(DirectoryOf(ExeDir())), L"src\\app\\mosswarden.exe");
    UniqueModule module(LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(module.valid()) << WideToUtf8(exe);
    const struct {
        SupervisorEvent event;
        const wchar_t* text;
        EventSeverity severity;
    } cases[] = {
        {SupervisorEvent::SupervisorStarted, L"mosswarden 开始守护 %1", EventSeverity::Information},
        {SupervisorEvent::SupervisorStopped, L"mosswarden 已停止守护 %1", EventSeverity::Information},
        {SupervisorEvent::ConnectorStarted, L"cloudflared 已启动，PID %1", EventSeverity::Information},
        {SupervisorEvent::ConnectorExited, L"cloudflared 已退出，退出码 %1", EventSeverity::Warning},
        {SupervisorEvent::TunnelRegistered, L"隧道已注册，cloudflared 启动后 %1 秒", EventSeverity::Information},
        {SupervisorEvent::TunnelNotReady, L"隧道已 %1 秒没有可用连接，重启 cloudflared", EventSeverity::Warning},
        {SupervisorEvent::ProvisionFailed, L"cloudflared 落地失败，%1 秒后重试", EventSeverity::Error},
        {SupervisorEvent::IniReloaded, L"%1 已修改，已重新加载并重启 cloudflared", EventSeverity::Information},
        {SupervisorEvent::IniReloadFailed, L"重新加载 %1 失败，继续用旧配置: %2", EventSeverity::Warning},
    };
    ASSERT_EQ(AllSupervisorEvents().size(), sizeof(cases) / sizeof(cases[0]));
    for (size_t i = 0; i < AllSupervisorEvents().size(); ++i) {
        const auto& c = cases[i];
        EXPECT_EQ(AllSupervisorEvents()[i], c.event);
        EXPECT_EQ(SeverityOf(c.event), c.severity) << static_cast<uint32_t>(c.event);
        wchar_t buffer[512] = {};
        DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS, module.get(),
                                 static_cast<DWORD>(c.event), 0, buffer, 512, nullptr);
        EXPECT_EQ(std::wstring(buffer, n), c.text) << static_cast<uint32_t>(c.event);
    }
}

std::vector<std::pair<uint32_t, std::vector<std::wstring>>> g_received;

void Record(SupervisorEvent event, const std::vector<std::wstring>& inserts) {
    g_received.emplace_back(static_cast<uint32_t>(event), inserts);
}

TEST(EventSink, EventsReachTheSinkOnlyWhileOneIsSet) {
    g_received.clear();
    ReportSupervisorEvent(SupervisorEvent::ConnectorStarted, {L"1"});
    SetEventSink(Record);
    ReportSupervisorEvent(SupervisorEvent::IniReloadFailed, {L"C:\\m\\mosswarden.ini", L"读取配置失败"});
    SetEventSink(nullptr);
    ReportSupervisorEvent(SupervisorEvent::ConnectorExited, {L"1"});
    ASSERT_EQ(g_received.size(), 1u);
    EXPECT_EQ(g_received[0].first, 1008u);
    EXPECT_EQ(g_received[0].second, (std::vector<std::wstring>{L"C:\\m\\mosswarden.ini", L"读取配置失败"}));
}

}  // namespace
}  // namespace mw
