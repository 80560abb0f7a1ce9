// The summary an install prints about the configured tunnel, and the autostart command line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "winsvc/install.h"

namespace mw {

using Lines = std::vector<std::wstring>;

TEST(InstallSummaryTest, DescribesEachTunnelMode) {
    const std::wstring ini = L"C:\\moss\\mosswarden.ini";
    Config tokenSet;
    tokenSet.tunnel.token = std::wstring(160, L'k');
    Config tokenEmpty;
    Config configNoRoutes;
    configNoRoutes.tunnel.mode = L"config";
    configNoRoutes.tunnel.credentials = L"C:\\moss\\cred.json";
    Config configRoutes;
    configRoutes.tunnel.mode = L"config";
    configRoutes.tunnel.tunnel_id = L"6ff42ae2";
    configRoutes.tunnel.credentials = L"C:\\moss\\cred.json";
    configRoutes.routes.resize(2);

    const struct {
        const char* what;
        const Config& config;
        Lines expected;
    } cases[] = {
        {"token set", tokenSet, {L"token 已配置，长度 160"}},
        {"token empty",
         tokenEmpty,
         {L"提醒: [tunnel] token 还是空的。",
          L"      到 Zero Trust -> Networks -> Tunnels -> Create tunnel 拿 token，填进 C:\\moss\\mosswarden.ini",
          L"      填完保存即可，守护进程会自动重启 cloudflared，不用重启服务。"}},
        {"config without routes names the credentials",
         configNoRoutes,
         {L"config 模式：隧道 C:\\moss\\cred.json，路由 0 条",
          L"提醒: [routes] 是空的，config.yml 里只有 404 兜底，流量进来会全是 404。"}},
        {"config with routes names the tunnel id", configRoutes, {L"config 模式：隧道 6ff42ae2，路由 2 条"}},
    };
    for (const auto& c : cases) EXPECT_EQ(InstallSummaryLines(c.config, ini), c.expected) << c.what;
}

TEST(LeftInPlaceLinesTest, ListsOnlyWhatIsThereAndWarnsOfTheToken) {
    EXPECT_TRUE(LeftInPlaceLines(LeftInPlace{}).empty());
    LeftInPlace all;
    all.ini = L"C:\\m\\mosswarden.ini";
    all.iniHasToken = true;
    all.connector = L"C:\\m\\cloudflared.exe";
    all.configYml = L"C:\\m\\config.yml";
    all.logDir = L"C:\\m\\logs";
    EXPECT_EQ(LeftInPlaceLines(all), (std::vector<std::wstring>{
                                         L"以下文件未删除（不再需要请手动删除）：",
                                         L"  C:\\m\\mosswarden.ini（配置文件，含隧道 token）",
                                         L"  C:\\m\\cloudflared.exe",
                                         L"  C:\\m\\config.yml",
                                         L"  C:\\m\\logs（日志）",
                                     }));
    LeftInPlace iniOnly;
    iniOnly.ini = all.ini;
    EXPECT_EQ(LeftInPlaceLines(iniOnly), (std::vector<std::wstring>{L"以下文件未删除（不再需要请手动删除）：",
                                                                     L"  C:\\m\\mosswarden.ini（配置文件）"}));
}

TEST(AutostartCommandLineTest, QuotesThePathAndAddsDaemonAndAnIniOtherThanTheDefault) {
    EXPECT_EQ(AutostartCommandLine(L"C:\\Program Files\\m w\\mosswarden.exe"),
              L"\"C:\\Program Files\\m w\\mosswarden.exe\" --daemon");
    EXPECT_EQ(AutostartCommandLine(L"C:\\m\\mosswarden.exe", L"D:\\conf dir\\site.ini"),
              L"\"C:\\m\\mosswarden.exe\" --daemon --ini \"D:\\conf dir\\site.ini\"");
    EXPECT_EQ(IniArgument(L"c:/M/MossWarden.ini", L"C:\\m\\mosswarden.ini"), L"");
    EXPECT_EQ(IniArgument(L"D:\\conf\\site.ini", L"C:\\m\\mosswarden.ini"), L"D:\\conf\\site.ini");
}

TEST(SetIniValueTest, ReplacesAddsOrAppendsTheKeyKeepingLineEnds) {
    const struct {
        const char* what;
        const wchar_t* before;
        const wchar_t* after;
    } cases[] = {
        {"replaces the key of the section", L"[cloudflared]\r\ntoken=x\r\n[Tunnel]\r\n; token=c\r\n TOKEN = old ;n\r\nmode=token\r\n",
         L"[cloudflared]\r\ntoken=x\r\n[Tunnel]\r\n; token=c\r\ntoken=NEW\r\nmode=token\r\n"},
        {"replaces the line the reader takes, in a repeated section too", L"[tunnel]\nmode=token\n[tunnel]\ntoken=later\n",
         L"[tunnel]\nmode=token\n[tunnel]\ntoken=NEW\n"},
        {"adds it after the first header", L"[tunnel]\nmode=token\n[x]\ntoken=other\n",
         L"[tunnel]\ntoken=NEW\nmode=token\n[x]\ntoken=other\n"},
        {"header on the last line without an end", L"a=1\r\n[tunnel]", L"a=1\r\n[tunnel]\r\ntoken=NEW\r\n"},
        {"appends the section", L"[supervisor]\r\nrestart_delay=1", L"[supervisor]\r\nrestart_delay=1\r\n[tunnel]\r\ntoken=NEW\r\n"},
        {"empty file", L"", L"[tunnel]\r\ntoken=NEW\r\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(SetIniValue(c.before, L"tunnel", L"token", L"NEW"), c.after) << c.what;
}

TEST(TokenFromFileTextTest, TakesTheFirstNonBlankLine) {
    std::wstring token;
    EXPECT_TRUE(TokenFromFileText(L"\xFEFF\r\n  eyJhIjoi \r\nsecond\r\n", &token));
    EXPECT_EQ(token, L"eyJhIjoi");
    EXPECT_TRUE(TokenFromFileText(L"eyJ", &token));
    EXPECT_EQ(token, L"eyJ");
    for (const wchar_t* empty : {L"", L"\r\n \t\r\n", L"\xFEFF"}) EXPECT_FALSE(TokenFromFileText(empty, &token));
}

}  // namespace mw
