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

// Lines as the real connector (release 2023.x, Windows) prints them.
TEST_F(AnalyzerTest, RealLinesFallIntoTheirFamilies) {
    using F = HintFamily;
    struct Case {
        std::wstring line;
        uint32_t families;
    };
    auto bits = [](std::initializer_list<F> list) {
        uint32_t b = 0;
        for (F f : list) b |= static_cast<uint32_t>(f);
        return b;
    };
    const std::vector<Case> cases = {
        {L"Provided Tunnel token is not valid.", bits({F::TokenInvalid})},
        {L"2023-10-31T11:41:00Z ERR Register tunnel error from server side error=\"Unauthorized: Failed to get tunnel\"",
         bits({F::TokenInvalid})},
        {L"Invalid tunnel secret", bits({F::TokenInvalid})},
        {L"\"cloudflared tunnel run\" requires the ID or name of the tunnel to run as the last command line argument "
         L"or in the configuration file.",
         bits({F::TokenMissing})},
        {L"ERR Failed to create new quic connection error=\"failed to dial to edge with quic: timeout: no recent "
         L"network activity\" connIndex=0 event=0 ip=198.41.192.7",
         bits({F::EdgeQuic})},
        {L"ERR edge discovery: error looking up Cloudflare edge IPs: the DNS query failed error=\"lookup "
         L"_v2-origintunneld._tcp.argotunnel.com: dnsquery: winapi error #9003\" event=0",
         bits({F::EdgeDns})},
        {L"Could not lookup srv records on _v2-origintunneld._tcp.argotunnel.com: lookup failed", bits({F::EdgeDns})},
        {L"ERR Unable to establish connection with Cloudflare edge error=\"DialContext error: dial tcp "
         L"198.41.200.13:7844: connectex: No connection could be made because the target machine actively refused it.\"",
         bits({F::EdgePort})},
        {L"ERR Unable to establish connection error=\"dial tcp 198.41.192.37:7844: i/o timeout\"", bits({F::EdgePort})},
        {L"ERR  error=\"dial tcp [::1]:3389: connectex: No connection could be made because the target machine "
         L"actively refused it.\" connIndex=0 dest=tcp://localhost:3389",
         bits({F::OriginRefused})},
        {L"read: connect: Connection refused", bits({F::OriginRefused})},
        // Any connection error says this; it is no sign of a bad token.
        {L"ERR failed to serve tunnel connection error=\"connection with edge closed\"", 0},
        {L"ERR Unauthorized: dial tcp 127.0.0.1:8080: connect: connection refused",
         bits({F::TokenInvalid, F::OriginRefused})},
        {L"INF Starting metrics server on 127.0.0.1:20241/metrics", 0},
        {L"a plain line", 0},
        // Only A-Z fold: a fullwidth "Ｕ" is not "U".
        {L"Ｕnauthorized", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.line.begin(), c.line.end()));
        EXPECT_EQ(HintFamiliesOf(c.line), c.families);
        state_.Reset(0);
        std::vector<std::wstring> out = Feed({c.line, c.line}, 0);
        EXPECT_EQ(state_.hintsShown, c.families);
        size_t hints = 0;
        for (uint32_t b = c.families; b != 0; b &= b - 1) ++hints;
        EXPECT_EQ(out.size(), 2u + hints);
        EXPECT_FALSE(state_.registered.load());
    }
}

TEST(HintText, EachFamilyHasItsOwnHint) {
    EXPECT_EQ(std::wstring(HintText(HintFamily::TokenInvalid)), kAuthHint);
    EXPECT_EQ(std::wstring(HintText(HintFamily::OriginRefused)), kRefusedHint);
    EXPECT_NE(std::wstring(HintText(HintFamily::EdgeQuic)).find(L"extra_args=--protocol http2"), std::wstring::npos);
    EXPECT_NE(std::wstring(HintText(HintFamily::EdgePort)).find(L"7844"), std::wstring::npos);
    EXPECT_NE(std::wstring(HintText(HintFamily::EdgeDns)).find(L"DNS"), std::wstring::npos);
    EXPECT_NE(std::wstring(HintText(HintFamily::TokenMissing)).find(L"[tunnel] token="), std::wstring::npos);
}

}  // namespace
}  // namespace mw
