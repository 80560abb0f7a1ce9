// The network check's URL choice and result lines.
#include "diag/check_network.h"

#include <gtest/gtest.h>

namespace mw {
namespace {

TEST(CheckNetUrl, SecondArgumentUnlessItIsAnOption) {
    const std::wstring def = L"https://www.cloudflare.com/cdn-cgi/trace";
    struct Case {
        std::vector<std::wstring> args;
        std::wstring url;
    } cases[] = {
        {{L"checknet"}, def},
        {{L"checknet", L"--ini", L"x.ini"}, def},
        {{L"checknet", L"--INI", L"x.ini"}, def},
        {{L"checknet", L"http://127.0.0.1:8080/x", L"ignored"}, L"http://127.0.0.1:8080/x"},
        {{L"checknet", L"127.0.0.1/x"}, L"127.0.0.1/x"},
        {{L"checknet", L"-x"}, L"-x"},
    };
    for (const Case& c : cases) EXPECT_EQ(CheckNetUrl(c.args), c.url) << c.args.back();
}

TEST(CheckNetSuccessLines, StatusLineAndExcerptOfAtMost200Bytes) {
    struct Case {
        std::string body;
        std::wstring excerpt;
    } cases[] = {
        {"", L""},
        {std::string(200, 'a'), std::wstring(200, L'a')},
        {std::string(200, 'a') + "b", std::wstring(200, L'a')},
        // "中" is three bytes; cut after its first byte at 200 it becomes one replacement character.
        {std::string(199, 'a') + "\xE4\xB8\xAD", std::wstring(199, L'a') + L"\uFFFD"},
        {"fl=1\nh=x\n", L"fl=1\nh=x\n"},
    };
    for (const Case& c : cases) {
        std::vector<std::wstring> lines = CheckNetSuccessLines(200, c.body, 37);
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(lines[0], L"HTTP 200，" + std::to_wstring(c.body.size()) + L" 字节，耗时 37 ms");
        EXPECT_EQ(lines[1], L"响应片段: " + c.excerpt) << c.body.size();
    }
}

}  // namespace
}  // namespace mw
