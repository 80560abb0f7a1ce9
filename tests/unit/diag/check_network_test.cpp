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

TEST(CheckNetFailureLine, PrefixOnce) {
    EXPECT_EQ(CheckNetFailureLine(L"请求失败: 12029: 无法连接到服务器"), L"请求失败: 12029: 无法连接到服务器");
    EXPECT_EQ(CheckNetFailureLine(L"HTTP 状态码 404"), L"请求失败: HTTP 状态码 404");
    EXPECT_EQ(CheckNetFailureLine(L"URL 解析失败: x"), L"请求失败: URL 解析失败: x");
}

// The advice fits the failure: tlsfix only for TLS codes, the proxy named when one was used.
TEST(CheckNetHints, FitTheFailure) {
    const std::wstring tls = L"TLS/安全通道失败：先安装系统更新 KB3140245，再以管理员身份运行 --tlsfix，然后重启系统";
    struct Case {
        uint32_t code;
        uint32_t status;
        bool viaProxy;
        std::vector<std::wstring> hints;
    } cases[] = {
        {12175, 0, false, {tls}},
        {12157, 0, true, {tls}},
        {12156, 0, false, {tls}},
        {12007, 0, false, {L"域名解析失败：检查本机 DNS 设置，或在 INI 里配 proxy= 走代理"}},
        {12007, 0, true, {L"代理的名称解析失败：检查 INI 里的 proxy= 地址"}},
        {12029, 0, false, {L"连不上服务器：检查网络和防火墙；可在 INI 里配 proxy= 走代理"}},
        {12029, 0, true, {L"连不上代理：检查 INI 里的 proxy= 地址和端口，以及代理程序是否在运行"}},
        {12002, 0, true, {L"等待响应超时：网络慢或被拦截；检查 INI 里的 proxy= 是否可用"}},
        {12031, 0, false, {L"连接被中断：网络不稳定或被拦截；可在 INI 里配 proxy= 走代理"}},
        {12045, 0, false, {L"证书问题：检查系统时间是否正确，必要时更新系统根证书"}},
        {0, 404, false, {L"网络是通的，服务器返回了 HTTP 404：检查 URL 是否正确"}},
        {0, 407, true, {L"代理要求认证：换一个不需要认证的代理，或在代理软件里放行本机"}},
        {0, 0, false, {}},
        {12150, 0, false, {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CheckNetHints(c.code, c.status, c.viaProxy), c.hints) << c.code << " " << c.status;
    }
}

}  // namespace
}  // namespace mw
