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

// Every code of the common set reads as a short meaning; only the TLS ones call for tlsfix; any
// other 12xxx code takes winhttp.dll's text, and the number alone when there is none.
TEST(HttpText, WinHttpErrorTexts) {
    struct Case {
        uint32_t code;
        std::wstring text;
        bool tls;
    } cases[] = {
        {12002, L"12002: 超时，服务器长时间没有响应", false},
        {12007, L"12007: 无法解析服务器名称（DNS）", false},
        {12029, L"12029: 无法连接到服务器", false},
        {12030, L"12030: 连接被中止", false},
        {12031, L"12031: 连接被重置", false},
        {12152, L"12152: 服务器的响应无效", false},
        {12156, L"12156: 重定向失败（多为跳转后的 TLS/安全通道失败）", true},
        {12157, L"12157: 安全通道错误（TLS 握手失败）", true},
        {12175, L"12175: 安全连接失败（TLS）", true},
        {12038, L"12038: 证书上的名称与主机不符", false},
        {12044, L"12044: 服务器要求客户端证书", false},
        {12045, L"12045: 证书的颁发机构不受信任", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ComposeWinHttpErrorText(c.code, L"from the module"), c.text);
        EXPECT_EQ(NetErrorText(c.code), c.text);
        EXPECT_EQ(IsTlsErrorCode(c.code), c.tls) << c.code;
    }
    EXPECT_EQ(ComposeWinHttpErrorText(12150, L"  The header could not be found.\r\n"),
              L"12150: The header could not be found.");
    EXPECT_EQ(ComposeWinHttpErrorText(12150, L" \r\n"), L"12150");
    EXPECT_EQ(WinHttpErrorMeaning(12150), nullptr);
    EXPECT_FALSE(IsTlsErrorCode(5));
    EXPECT_EQ(ReadFailedText(12031), L"读取失败: 12031: 连接被重置");
}

}  // namespace
}  // namespace mw
