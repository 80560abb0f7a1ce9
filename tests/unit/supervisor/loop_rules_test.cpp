// The supervisor's pure rules: start banner, back-off, wait lengths, registration warning, exit line.
#include "supervisor/loop_rules.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/text.h"

namespace mw {
namespace {

std::vector<std::wstring> Render(const std::vector<LogLine>& lines) {
    std::vector<std::wstring> out;
    for (const LogLine& line : lines) out.push_back(std::wstring(line.level) + L" " + line.text);
    return out;
}

TEST(StartBanner, TokenModeMasksTheTokenAndWarnsWhenEmpty) {
    Config config;
    config.ini_path = L"C:\\mw\\mosswarden.ini";
    config.tunnel.token = L"eyJhIjoiMTIzNDU2Nzg5MCJ9";
    BannerFacts facts;
    facts.osText = L"Windows 7 build 7601 (x64, 32/64: native)";
    facts.archWord = L"x64";
    facts.elevated = true;
    facts.modulePath = L"C:\\mw\\mosswarden.exe";
    std::vector<std::wstring> lines = Render(StartBannerLines(config, facts));
    EXPECT_EQ(lines, (std::vector<std::wstring>{
                         L"INFO ================ mosswarden 启动 ================",
                         L"INFO 系统: Windows 7 build 7601 (x64, 32/64: native)",
                         L"INFO 进程位数: x64，管理员: 是",
                         L"INFO 程序: C:\\mw\\mosswarden.exe",
                         L"INFO 配置: C:\\mw\\mosswarden.ini",
                         L"INFO 隧道模式: token，cloudflared 2023.10.0 (auto)",
                         L"INFO 隧道 token: " + MaskToken(config.tunnel.token),
                         L"WARN token 格式不对：缺少 a/t/s 字段（复制不全？）",
                     }));

    config.tunnel.token.clear();
    facts.atLeastWin7 = false;
    facts.elevated = false;
    lines = Render(StartBannerLines(config, facts));
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_EQ(lines[2], L"INFO 进程位数: x64，管理员: 否");
    EXPECT_EQ(lines[6], L"WARN 系统低于 Windows 7，本程序未在该环境验证过");
    EXPECT_EQ(lines[7], L"WARN token 为空：cloudflared 会立即退出，填好 token 之前隧道不会启动。");
    EXPECT_EQ(lines[8], L"WARN 到 Zero Trust 控制台 Networks -> Tunnels 创建隧道，把 token 填进 [tunnel] token=");
}

TEST(StartBanner, AMetricsAddressOfAnotherMachineTurnsTheReadinessWatchOff) {
    Config config;
    config.tunnel.mode = L"config";
    config.tunnel.tunnel_id = L"x";
    config.supervisor.metrics = L"192.0.2.7:20241";
    std::vector<std::wstring> lines = Render(StartBannerLines(config, BannerFacts()));
    EXPECT_EQ(lines.back(), L"WARN metrics=192.0.2.7:20241 不是本机的 主机:端口，不做就绪检查");
    config.supervisor.metrics = L"127.0.0.1:20241";
    EXPECT_EQ(Render(StartBannerLines(config, BannerFacts())).size(), lines.size() - 1);
}

TEST(RunCountsAsFailure, EarlyExitsWithoutRegistrationAndUnreadyRestarts) {
    EXPECT_TRUE(RunCountsAsFailure(false, 800, false));
    EXPECT_TRUE(RunCountsAsFailure(false, kHealthyRunMs - 1, false));
    EXPECT_FALSE(RunCountsAsFailure(false, kHealthyRunMs, false));
    EXPECT_FALSE(RunCountsAsFailure(true, 300, false));
    EXPECT_TRUE(RunCountsAsFailure(true, 600000, true));
}

TEST(StartBanner, ConfigModeNamesTheFileAndWarnsWithoutTunnelIdentity) {
    Config config;
    config.tunnel.mode = L"config";
    config.tunnel.config_file = L"D:\\t\\config.yml";
    std::vector<std::wstring> lines = Render(StartBannerLines(config, BannerFacts()));
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[6], L"INFO config.yml: D:\\t\\config.yml");
    EXPECT_EQ(lines[7], L"WARN config 模式但 tunnel_id / credentials 都没填，cloudflared 会报缺少隧道信息");
    config.tunnel.credentials = L"cred.json";
    EXPECT_EQ(StartBannerLines(config, BannerFacts()).size(), 7u);
}

TEST(LoopRules, BackoffDoublesUpToTheCapWithoutWrapping) {
    struct Case {
        int32_t delay, max, next;
    };
    for (const Case& c : std::vector<Case>{{1, 4, 2}, {2, 4, 4}, {4, 4, 4}, {5, 300, 10}, {160, 300, 300},
                                           {0x40000000, 0x7FFFFFFF, 0x7FFFFFFF}, {0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF}}) {
        EXPECT_EQ(NextBackoff(c.delay, c.max), c.next) << c.delay << " " << c.max;
    }
}

TEST(LoopRules, WaitMillisecondsClampsInsteadOfWrapping) {
    EXPECT_EQ(WaitMilliseconds(5), 5000u);
    EXPECT_EQ(WaitMilliseconds(0), 0u);
    EXPECT_EQ(WaitMilliseconds(-3), 0u);
    EXPECT_EQ(WaitMilliseconds(4294967), 4294967000u);
    EXPECT_EQ(WaitMilliseconds(4294968), 0xFFFFFFFEu);  // would wrap to 704 ms
    EXPECT_EQ(WaitMilliseconds(0x7FFFFFFF), 0xFFFFFFFEu);
}

TEST(LoopRules, RegistrationWarningComesEveryLimitAfterTheFirst) {
    const uint64_t start = 1000000;
    uint64_t last = 0;
    struct Step {
        uint64_t atMs;
        bool due;
    };
    for (const Step& s : std::vector<Step>{{30000, false}, {30500, true}, {31000, false}, {60500, false},
                                           {61000, true}, {91500, true}}) {
        EXPECT_EQ(RegistrationWarningDue(start + s.atMs, start, 30, last), s.due) << s.atMs;
    }
    uint64_t none = 0;
    EXPECT_FALSE(RegistrationWarningDue(start + 999999, start, 0, none));
}

TEST(LoopRules, ExitLineShowsDecimalAndHex) {
    EXPECT_EQ(ExitLine(1), L"cloudflared 退出，退出码 1（0x00000001）");
    EXPECT_EQ(ExitLine(0xC0000005u), L"cloudflared 退出，退出码 3221225477（0xC0000005）");
}

}  // namespace
}  // namespace mw
