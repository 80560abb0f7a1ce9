// The proxy choice: explicit, empty, and "auto" over the Internet Options values.
#include <gtest/gtest.h>

#include "net/proxy.h"

namespace mw {
namespace {

TEST(Proxy, ListChoiceOrder) {
    struct Case {
        const wchar_t* list;
        const wchar_t* chosen;
    } cases[] = {
        {L"127.0.0.1:7890", L"127.0.0.1:7890"},
        {L"http=p1:80;https=p2:443", L"p2:443"},
        {L"ftp=f:21;http=p1:80", L"p1:80"},
        {L"p0:8080;https=p2:443", L"p2:443"},
        {L"HTTP=p1:80", L"p1:80"},
        {L"http=p1:80;http=p3:80", L"p1:80"},
        {L"p0:8080;http=p1:80", L"p0:8080"},
        {L"https=p2:443;https=p4:443", L"p4:443"},
        {L"http= ;socks=s:1080", L""},
        {L"ftp=f:21;", L""},
        {L"p0:8080;", L"p0:8080"},
        {L";;p0:8080", L"p0:8080"},
        {L"http= p1:80 ", L"p1:80"},
    };
    for (const Case& c : cases) EXPECT_EQ(ChooseFromProxyList(c.list), c.chosen) << c.list;
}

TEST(Proxy, ChoiceAndLogLine) {
    SystemProxyValues none;
    none.keyOpened = true;
    SystemProxyValues enabled = none;
    enabled.proxyEnable = 1;
    enabled.proxyServer = L"127.0.0.1:7890";
    SystemProxyValues disabledWithPac = none;
    disabledWithPac.proxyServer = L"127.0.0.1:7890";
    disabledWithPac.autoConfigUrl = L"http://wpad/proxy.pac";
    SystemProxyValues unreadable;
    SystemProxyValues onlySocks = none;
    onlySocks.proxyEnable = 1;
    onlySocks.proxyServer = L"socks=s:1080";

    struct Case {
        const wchar_t* setting;
        const SystemProxyValues* system;
        const wchar_t* proxy;
        const wchar_t* log;
    } cases[] = {
        {L"", &enabled, L"", L""},
        {L"   ", &enabled, L"", L""},
        {L"http://127.0.0.1:7890", &none, L"http://127.0.0.1:7890", L"代理: 使用配置 http://127.0.0.1:7890"},
        {L" AUTO ", &enabled, L"127.0.0.1:7890", L"代理: 系统代理 127.0.0.1:7890 → 使用 127.0.0.1:7890"},
        {L"auto", &disabledWithPac, L"",
         L"代理: 检测到 PAC (http://wpad/proxy.pac)，Win7 的 WinHTTP 无法执行 PAC，请显式配 proxy="},
        {L"auto", &none, L"", L"代理: 系统未启用代理，直连"},
        {L"auto", &onlySocks, L"", L"代理: 系统未启用代理，直连"},
        {L"auto", &unreadable, L"", L"代理: 读不到 Internet Settings"},
    };
    for (const Case& c : cases) {
        ProxyChoice choice = ChooseProxy(c.setting, *c.system);
        EXPECT_EQ(choice.proxy, c.proxy) << c.setting;
        EXPECT_EQ(choice.logText, c.log) << c.setting;
    }
}

// The system bypass list, as browsers read it.
TEST(Proxy, BypassList) {
    const std::wstring list = L"*.corp.example; 10.*;<local> ;Intra.Example.com;http://build;";
    struct Case {
        const wchar_t* host;
        const wchar_t* bypass;
        bool direct;
    } cases[] = {
        {L"git.corp.example", list.c_str(), true},
        {L"corp.example", list.c_str(), false},
        {L"10.1.2.3", list.c_str(), true},
        {L"110.1.2.3", list.c_str(), false},
        {L"fileserver", list.c_str(), true},
        {L"FileServer", L"<LOCAL>", true},
        {L"github.com", list.c_str(), false},
        {L"intra.example.com", list.c_str(), true},
        {L"build", L"http://build", true},
        {L"anything", L"*", true},
        {L"fileserver", L"", false},
        {L"", L"*", false},
        {L"a.b", L"a*b*c", false},
        {L"axbxc", L"a*b*c", true},
    };
    for (const Case& c : cases) EXPECT_EQ(HostBypassesProxy(c.host, c.bypass), c.direct) << c.host << " in " << c.bypass;
}

TEST(Proxy, UrlHostAndProxyForUrl) {
    EXPECT_EQ(UrlHost(L"https://User:pw@Mirror.Example:8443/x?y#z"), L"mirror.example");
    EXPECT_EQ(UrlHost(L"http://[::1]:80/x"), L"::1");
    EXPECT_EQ(UrlHost(L"http://fileserver"), L"fileserver");

    SystemProxyValues system;
    system.keyOpened = true;
    system.proxyEnable = 1;
    system.proxyServer = L"p:3128";
    system.proxyOverride = L"<local>;*.intra";
    ProxyChoice automatic = ChooseProxy(L"auto", system);
    EXPECT_EQ(automatic.bypass, L"<local>;*.intra");
    EXPECT_EQ(ProxyForUrl(automatic, L"http://fileserver/cf.exe"), L"");
    EXPECT_EQ(ProxyForUrl(automatic, L"http://dl.intra/cf.exe"), L"");
    EXPECT_EQ(ProxyForUrl(automatic, L"https://github.com/x"), L"p:3128");
    // An explicit proxy has no bypass list.
    ProxyChoice explicitProxy = ChooseProxy(L"http://q:8080", system);
    EXPECT_EQ(ProxyForUrl(explicitProxy, L"http://fileserver/cf.exe"), L"http://q:8080");
}

}  // namespace
}  // namespace mw
