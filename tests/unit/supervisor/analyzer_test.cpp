// The connector output analyzer: the CFD copy, registration and the two hints, once per run.
#include "supervisor/analyzer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace mw {
namespace {

const std::wstring kAuthHint = L"看起来是认证/注册失败：token 复制不全、隧道已删除，或该 token 属于别的隧道";
const std::wstring kRefusedHint = L"本机目标端口没监听：确认被代理的服务真的起来了（RDP 用 netstat -ano | findstr 3389）";

class AnalyzerTest : public ::testing::Test {
protected:
    // Feeds lines at `now` and returns "LEVEL text" for every log line written.
    std::vector<std::wstring> Feed(const std::vector<std::wstring>& lines, uint64_t now) {
        std::vector<std::wstring> out;
        LogSink sink = [&out](const wchar_t* level, const std::wstring& text) {
            out.push_back(std::wstring(level) + L" " + text);
        };
        for (const std::wstring& line : lines) AnalyzeLine(state_, line, now, sink);
        return out;
    }
    ConnectorRunState state_;
};

TEST_F(AnalyzerTest, EachFamilyOncePerRunAfterItsLine) {
    state_.Reset(10000);
    const std::wstring reg = L"INF REGISTERED tunnel Connection connIndex=0";
    const std::wstring both = L"ERR Unauthorized: dial tcp: connect: connection refused";
    EXPECT_EQ(Feed({reg, both, both, L"registered tunnel connection again"}, 13999),
              (std::vector<std::wstring>{L"CFD " + reg, L"INFO 隧道已注册，连接器就绪（耗时 3 秒）", L"CFD " + both,
                                         L"WARN " + kAuthHint, L"WARN " + kRefusedHint, L"CFD " + both,
                                         L"CFD registered tunnel connection again"}));
    EXPECT_TRUE(state_.registered.load());

    state_.Reset(20000);  // a restarted connector may say all three again
    EXPECT_EQ(Feed({L"x actively refused", L"Unable to authenticate", L"Registered tunnel connection"}, 20500),
              (std::vector<std::wstring>{L"CFD x actively refused", L"WARN " + kRefusedHint,
                                         L"CFD Unable to authenticate", L"WARN " + kAuthHint,
                                         L"CFD Registered tunnel connection", L"INFO 隧道已注册，连接器就绪（耗时 0 秒）"}));
}

TEST_F(AnalyzerTest, RecognisesEveryTextOfEachFamily) {
    struct Case {
        std::wstring line;
        bool auth;
        bool refused;
    };
    const std::vector<Case> cases = {
        {L"... failed to serve TUNNEL connection", true, false},
        {L"Invalid tunnel secret", true, false},
        {L"read: connect: Connection refused", false, true},
        {L"No connection could be made because the target machine actively refused it", false, true},
        {L"a plain line", false, false},
        // Only A-Z fold: a fullwidth "Ｕ" is not "U".
        {L"Ｕnauthorized", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.line.begin(), c.line.end()));
        state_.Reset(0);
        std::vector<std::wstring> out = Feed({c.line}, 0);
        EXPECT_EQ(state_.authHintShown, c.auth);
        EXPECT_EQ(state_.refusedHintShown, c.refused);
        EXPECT_EQ(out.size(), 1u + (c.auth ? 1 : 0) + (c.refused ? 1 : 0));
        EXPECT_FALSE(state_.registered.load());
    }
}

}  // namespace
}  // namespace mw
