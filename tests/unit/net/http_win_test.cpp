// URL cracking, request options and headers, and the named proxy, against the fault server.
#include <algorithm>

#include "net/http.h"
#include "net/http_text.h"
#include "net_fixture.h"

namespace mw {
namespace {

TEST(CrackUrl, Table) {
    struct Case {
        const wchar_t* url;
        bool valid;
        const wchar_t* host;
        const wchar_t* path;
        uint16_t port;
        bool secure;
    } cases[] = {
        {L"https://github.com/cloudflare/cloudflared/releases/download/2023.10.0/cloudflared-windows-amd64.exe",
         true, L"github.com", L"/cloudflare/cloudflared/releases/download/2023.10.0/cloudflared-windows-amd64.exe",
         443, true},
        {L"http://127.0.0.1:8080/a/b?x=1&y=2#frag", true, L"127.0.0.1", L"/a/b?x=1&y=2#frag", 8080, false},
        {L"http://host", true, L"host", L"", 80, false},
        {L"ftp://host/file", false, L"", L"", 0, false},
        {L"host/file", false, L"", L"", 0, false},
        {L"", false, L"", L"", 0, false},
    };
    for (const Case& c : cases) {
        CrackedUrl cracked = CrackUrl(c.url);
        EXPECT_EQ(cracked.valid, c.valid) << c.url;
        if (!c.valid) continue;
        EXPECT_EQ(cracked.host, c.host);
        EXPECT_EQ(cracked.path, c.path);
        EXPECT_EQ(cracked.port, c.port);
        EXPECT_EQ(cracked.secure, c.secure);
    }
    EXPECT_FALSE(CrackUrl(L"http://" + std::wstring(1100, L'h') + L"/x").valid);
}

TEST(HttpRequestOpen, BadUrlsNameTheUrl) {
    for (const wchar_t* url : {L"ftp://127.0.0.1/x", L"no scheme at all"}) {
        HttpRequest request;
        std::wstring error;
        EXPECT_FALSE(request.Open(url, L"", 30, &error));
        EXPECT_EQ(error, std::wstring(L"URL 解析失败: ") + url);
    }
}

using HttpRequestTest = NetTest;

TEST_F(HttpRequestTest, RangeLineQueryAndHeaders) {
    HttpRequest request;
    std::wstring error;
    ASSERT_TRUE(request.Open(Url(L"/file/4096", L"longheader=600"), L"", 30, &error)) << error;
    ASSERT_TRUE(request.Send(0, 0, true, &error)) << error;
    EXPECT_EQ(request.StatusCode(), 206u);
    std::wstring value;
    EXPECT_TRUE(request.QueryHeaderText(WINHTTP_QUERY_CUSTOM, L"Content-Range", &value));
    EXPECT_EQ(value, L"bytes 0-0/4096");
    EXPECT_TRUE(request.QueryHeaderText(WINHTTP_QUERY_CONTENT_LENGTH, nullptr, &value));
    EXPECT_EQ(value, L"1");
    EXPECT_FALSE(request.QueryHeaderText(WINHTTP_QUERY_CUSTOM, L"X-Long", &value)) << "600 characters do not fit";
    EXPECT_FALSE(request.QueryHeaderText(WINHTTP_QUERY_CUSTOM, L"X-Absent", &value));
    request.Close();
    EXPECT_EQ(ServerRanges(), std::vector<std::string>{"bytes=0-0"});
}

TEST_F(HttpRequestTest, BlankProxyIsDirectAndSchemeProxyIsNamed) {
    for (const std::wstring& proxy : {std::wstring(L"  "), ProxySetting()}) {
        HttpRequest request;
        std::wstring error;
        ASSERT_TRUE(request.Open(Url(L"/file/10"), proxy, 30, &error)) << error;
        ASSERT_TRUE(request.Send(0, 0, false, &error)) << error;
        EXPECT_EQ(request.StatusCode(), 200u);
    }
    std::string passed = ProxyLog();
    EXPECT_EQ(std::count(passed.begin(), passed.end(), '\n'), 1) << passed;
    EXPECT_EQ(ServerRanges().size(), 2u);
}

TEST_F(HttpRequestTest, RefusedConnectionFailsSend) {
    HttpRequest request;
    std::wstring error;
    ASSERT_TRUE(request.Open(L"http://127.0.0.1:1/x", L"", 30, &error)) << error;
    EXPECT_FALSE(request.Send(0, 0, false, &error));
    EXPECT_EQ(error, L"请求失败: 12029: 无法连接到服务器");
    EXPECT_EQ(request.ErrorCode(), 12029u);
    EXPECT_EQ(request.StatusCode(), 0u);
}

// A 12xxx code outside the short table reads winhttp.dll's own text, or the number alone; never
// the system table's "(no description)".
TEST(NetErrorText, OtherWinHttpCodesUseTheModuleText) {
    std::wstring text = NetErrorText(12150);
    EXPECT_EQ(text.rfind(L"12150", 0), 0u) << WideToUtf8(text);
    EXPECT_EQ(text.find(L"(no description)"), std::wstring::npos) << WideToUtf8(text);
    EXPECT_EQ(NetErrorText(5), Win32ErrorText(5));
}

}  // namespace
}  // namespace mw
