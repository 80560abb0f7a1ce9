// Proxy name, time-out, request headers and Content-Range/Content-Length numbers.
#include <gtest/gtest.h>

#include "net/http_text.h"

namespace mw {
namespace {

TEST(HttpText, ProxyNameStripsSchemeOnly) {
    struct Case {
        const wchar_t* in;
        const wchar_t* out;
    } cases[] = {
        {L"http://127.0.0.1:7890", L"127.0.0.1:7890"},
        {L"  socks://h:1  ", L"h:1"},
        {L"127.0.0.1:7890", L"127.0.0.1:7890"},
        {L"http=p1:80;https=p2:443", L"http=p1:80;https=p2:443"},
        {L"", L""},
        {L" \t ", L""},
        {L"://", L""},
    };
    for (const Case& c : cases) EXPECT_EQ(ProxyNameForWinHttp(c.in), c.out) << c.in;
}

TEST(HttpText, ReceiveTimeoutAndFlags) {
    EXPECT_EQ(ReceiveTimeoutMs(0), 600000u);
    EXPECT_EQ(ReceiveTimeoutMs(-3), 600000u);
    EXPECT_EQ(ReceiveTimeoutMs(30), 30000u);
    // Body reads wait min(timeout, stall); a stall of 0 is off and leaves the time-out alone.
    EXPECT_EQ(BodyReceiveSeconds(600, 60), 60);
    EXPECT_EQ(BodyReceiveSeconds(30, 60), 30);
    EXPECT_EQ(BodyReceiveSeconds(0, 60), 60);
    EXPECT_EQ(BodyReceiveSeconds(0, 0), 600);
    EXPECT_EQ(BodyReceiveSeconds(45, -1), 45);
    EXPECT_EQ(OpenRequestFlags(true), 0x800100u);
    EXPECT_EQ(OpenRequestFlags(false), 0x100u);
}

TEST(HttpText, HeadersCarryRangeLineOnlyWhenAsked) {
    EXPECT_EQ(RequestHeaderText(5, 9, false), L"Accept: */*\r\nAccept-Encoding: identity\r\n");
    EXPECT_EQ(RequestHeaderText(0, 0, true), L"Accept: */*\r\nAccept-Encoding: identity\r\nRange: bytes=0-0\r\n");
    EXPECT_EQ(RequestHeaderText(4294967296ull, 18446744073709551615ull, true),
              L"Accept: */*\r\nAccept-Encoding: identity\r\nRange: bytes=4294967296-18446744073709551615\r\n");
}

TEST(HttpText, DecimalAndContentRangeTotal) {
    struct Case {
        const wchar_t* in;
        uint64_t decimal;
        uint64_t total;
    } cases[] = {
        {L"4096", 4096, 0},
        {L"  \t 42abc", 42, 0},
        {L"abc", 0, 0},
        {L"", 0, 0},
        {L"18446744073709551615", 18446744073709551615ull, 0},
        {L"18446744073709551616", 18446744073709551615ull, 0},
        {L"99999999999999999999999", 18446744073709551615ull, 0},
        {L"bytes 0-0/4096", 0, 4096},
        {L"bytes 0-0/*", 0, 0},
        {L"bytes 0-0/ * ", 0, 0},
        {L"bytes 0-0/ 4096 ", 0, 4096},
        {L"bytes 0-0/8/9", 0, 8},
        {L"bytes 0-0/", 0, 0},
        {L"bytes 0-0/-5", 0, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseDecimalU64(c.in), c.decimal) << c.in;
        EXPECT_EQ(ContentRangeTotal(c.in), c.total) << c.in;
    }
}

TEST(TransferTexts, FixedWording) {
    EXPECT_EQ(HttpStatusText(404), L"HTTP 状态码 404");
    EXPECT_EQ(StalledText(60), L"60 秒没有任何数据，判定卡死");
    EXPECT_EQ(ReadFailedText(12002).rfind(L"读取失败: 12002: ", 0), 0u);
    EXPECT_EQ(WriteFailedText(112).rfind(L"写入失败: 112: ", 0), 0u);
}

}  // namespace
}  // namespace mw
