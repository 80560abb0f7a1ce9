// The "clientcmd" lines: host name and port taken from the arguments.
#include "app/client_commands.h"

#include <gtest/gtest.h>

namespace mw {
namespace {

TEST(ClientCommandLines, DefaultsGiveThe13Lines) {
    const std::vector<std::wstring> expected = {
        L"在【另一台电脑】（你要用来连过去的那台）上执行：",
        L"",
        L"  1) 装一份 cloudflared（Win10/11 直接用最新版即可）",
        L"  2) 建本地隧道口：",
        L"       cloudflared access rdp --hostname rdp.example.com --url rdp://localhost:13389",
        L"  3) 另开一个窗口连桌面：",
        L"       mstsc /v:127.0.0.1:13389",
        L"",
        L"说明：",
        L"  - access 进程要一直开着，关掉就断；建议做成开机自启",
        L"  - 本地端口故意不用 3389，避免和客户端自己的远程桌面服务撞车",
        L"  - 首次连接会弹浏览器，用 Access 策略里放行的身份登录一次，令牌会缓存",
        L"  - 走 SSH 就把 rdp 换成 ssh，端口换成 22，然后 ssh -p 13389 user@127.0.0.1",
    };
    EXPECT_EQ(ClientCommandLines({L"clientcmd"}), expected);
}

TEST(ClientCommandLines, HostAndPortTable) {
    struct Case {
        std::vector<std::wstring> args;
        std::wstring host;
        std::wstring port;
    } cases[] = {
        {{L"clientcmd", L"rdp-host", L"--port", L"40000"}, L"rdp-host", L"40000"},
        {{L"clientcmd", L"--port", L"40000", L"rdp-host"}, L"rdp-host", L"40000"},
        {{L"clientcmd", L"--port", L"0"}, L"rdp.example.com", L"13389"},
        {{L"clientcmd", L"--port", L"65536"}, L"rdp.example.com", L"13389"},
        {{L"clientcmd", L"--port", L"65535"}, L"rdp.example.com", L"65535"},
        {{L"clientcmd", L"--port", L"1"}, L"rdp.example.com", L"1"},
        {{L"clientcmd", L"--port", L"-22"}, L"rdp.example.com", L"13389"},
        {{L"clientcmd", L"--port", L"abc"}, L"rdp.example.com", L"13389"},
        // atoi rules: leading blanks and a sign, digits up to the first non-digit.
        {{L"clientcmd", L"--port", L"  +2222x9"}, L"rdp.example.com", L"2222"},
        // Would wrap to 13390 in 32 bits; saturates and falls back instead.
        {{L"clientcmd", L"--port", L"4294980686"}, L"rdp.example.com", L"13389"},
        {{L"clientcmd", L"--port", L"99999999999999999999999"}, L"rdp.example.com", L"13389"},
        {{L"clientcmd", L"--PORT", L"40000"}, L"40000", L"13389"},
        {{L"clientcmd", L"a", L"b"}, L"b", L"13389"},
        {{L"clientcmd", L"rdp-host", L"--port"}, L"rdp-host", L"13389"},
        {{L"clientcmd", L"rdp-host", L"--ini", L"x.ini"}, L"x.ini", L"13389"},
        {{L"clientcmd", L"--Verbose", L"h"}, L"h", L"13389"},
    };
    for (const Case& c : cases) {
        std::vector<std::wstring> lines = ClientCommandLines(c.args);
        ASSERT_EQ(lines.size(), 13u);
        const std::wstring& label = c.args.back();
        EXPECT_EQ(lines[4], L"       cloudflared access rdp --hostname " + c.host + L" --url rdp://localhost:" + c.port)
            << label;
        EXPECT_EQ(lines[6], L"       mstsc /v:127.0.0.1:" + c.port) << label;
        EXPECT_EQ(lines[12], L"  - 走 SSH 就把 rdp 换成 ssh，端口换成 22，然后 ssh -p " + c.port + L" user@127.0.0.1")
            << label;
    }
}

}  // namespace
}  // namespace mw
