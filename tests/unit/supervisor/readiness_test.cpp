// Readiness: the address asked, the /ready body, the health line and when an unready tunnel is restarted.
#include "supervisor/readiness.h"

#include <gtest/gtest.h>

#include <vector>

namespace mw {
namespace {

TEST(ReadyUrl, OnlyThisMachine) {
    struct Case {
        const wchar_t* metrics;
        const wchar_t* url;
    } cases[] = {
        {L"127.0.0.1:20241", L"http://127.0.0.1:20241/ready"},
        {L" localhost:8081 ", L"http://localhost:8081/ready"},
        {L"0.0.0.0:20241", L"http://127.0.0.1:20241/ready"},
        {L":20241", L"http://127.0.0.1:20241/ready"},
        {L"[::1]:20241", L"http://[::1]:20241/ready"},
        {L"127.0.0.2:1", L"http://127.0.0.2:1/ready"},
        {L"", L""},
        {L"192.0.2.7:20241", L""},
        {L"evil.example.com:80", L""},
        {L"127.0.0.1", L""},
        {L"127.0.0.1:0", L""},
        {L"127.0.0.1:65536", L""},
        {L"127.0.0.1:80/x", L""},
        {L"127.0.0.1@evil:80", L""},
    };
    for (const Case& c : cases) EXPECT_EQ(ReadyUrl(c.metrics), c.url) << c.metrics;
}

TEST(ParseReadyConnections, TheConnectorsBody) {
    int32_t n = -1;
    EXPECT_TRUE(ParseReadyConnections("{\"status\":503,\"readyConnections\":0,\"connectorId\":\"abc\"}", &n));
    EXPECT_EQ(n, 0);
    EXPECT_TRUE(ParseReadyConnections("{\"status\":200,\"readyConnections\":4,\"connectorId\":\"abc\"}", &n));
    EXPECT_EQ(n, 4);
    EXPECT_TRUE(ParseReadyConnections("{\"readyConnections\": 12}", &n));
    EXPECT_EQ(n, 12);
    EXPECT_FALSE(ParseReadyConnections("<html>404</html>", &n));
    EXPECT_FALSE(ParseReadyConnections("{\"readyConnections\":\"x\"}", &n));
    EXPECT_FALSE(ParseReadyConnections("", &n));
}

ReadyAnswer Answer(uint32_t status, int32_t connections) {
    ReadyAnswer a;
    a.answered = true;
    a.status = status;
    a.connections = connections;
    return a;
}

TEST(Health, LineAndExitCode) {
    ReadyAnswer none;
    none.error = L"12029: 连接不上";
    struct Case {
        ReadyAnswer answer;
        const wchar_t* metrics;
        const wchar_t* line;
        int code;
    } cases[] = {
        {Answer(200, 4), L"127.0.0.1:20241", L"健康: 就绪（4 条连接）", 0},
        {Answer(503, 0), L"127.0.0.1:20241", L"健康: 未就绪（0 条连接）", 1},
        {Answer(200, 0), L"127.0.0.1:20241", L"健康: 未就绪（0 条连接）", 1},
        {none, L"127.0.0.1:20241", L"健康: 未运行（127.0.0.1:20241 没有应答: 12029: 连接不上）", 2},
        {ReadyAnswer(), L"", L"健康: 未运行（ini 里 metrics= 为空，没有就绪检查）", 2},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(HealthLine(c.answer, c.metrics), c.line);
        EXPECT_EQ(HealthExitCode(c.answer), c.code);
    }
}

TEST(ObserveReadiness, LogsChangesAndRestartsAfterTheUnreadyLimit) {
    ReadinessWatch watch;
    watch.readySinceTick = 1000;
    struct Step {
        uint64_t at;
        ReadyAnswer answer;
        const wchar_t* info;
        bool restart;
    };
    ReadyAnswer silent;
    const std::vector<Step> steps = {
        {6000, Answer(503, 0), L"", false},
        {11000, silent, L"", false},
        {16000, Answer(200, 4), L"隧道可用连接: 0 → 4", false},
        {21000, Answer(200, 4), L"", false},
        {26000, Answer(503, 0), L"隧道可用连接: 4 → 0", false},
        {50999, Answer(503, 0), L"", false},
        {51000, silent, L"", true},  // 30 s after the last ready answer at 21000
    };
    for (const Step& s : steps) {
        ReadinessStep step = ObserveReadiness(watch, s.answer, s.at, 30);
        EXPECT_EQ(step.info, s.info) << s.at;
        EXPECT_EQ(step.restart, s.restart) << s.at;
        if (s.restart) {
            EXPECT_EQ(step.warn, L"隧道已 30 秒没有可用连接，重启 cloudflared");
        }
    }
    ReadinessWatch never;
    EXPECT_FALSE(ObserveReadiness(never, silent, 99999999, 0).restart);
}

}  // namespace
}  // namespace mw
