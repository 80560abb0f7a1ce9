// The default INI template's exact text.
#include "config/default_ini.h"

#include <gtest/gtest.h>

#include <vector>

namespace mw {
namespace {

std::vector<std::wstring> Lines(const std::wstring& text) {
    std::vector<std::wstring> lines;
    size_t start = 0;
    for (size_t end; (end = text.find(L"\r\n", start)) != std::wstring::npos; start = end + 2) {
        lines.push_back(text.substr(start, end - start));
    }
    EXPECT_EQ(start, text.size()) << "text after the last CR LF";
    return lines;
}

TEST(DefaultIni, EightySixCrLfLinesWithNoStrayLineBreaks) {
    const std::wstring& text = DefaultIniTemplate();
    std::vector<std::wstring> lines = Lines(text);
    ASSERT_EQ(lines.size(), 86u);
    for (const std::wstring& line : lines) {
        EXPECT_EQ(line.find_first_of(L"\r\n"), std::wstring::npos) << "line: " << lines.size();
    }
    const std::wstring rule = L"; " + std::wstring(60, L'=');
    EXPECT_EQ(lines[0], rule);
    EXPECT_EQ(lines[8], rule);
    EXPECT_EQ(lines[81], L"heartbeat_warn_sec=180");
    EXPECT_EQ(lines[83], L"metrics=127.0.0.1:20241");
    EXPECT_EQ(lines[85], L"unready_restart_sec=300");
}

TEST(DefaultIni, CharactersThatAreEasyToLose) {
    std::vector<std::wstring> lines = Lines(DefaultIniTemplate());
    ASSERT_EQ(lines.size(), 86u);
    struct Case {
        size_t number;  // 1-based, as an administrator counts them
        const wchar_t* text;
    } cases[] = {
        {3, L"; 目标平台: Windows 7 SP1 (x86 / x64)"},
        {5, L"; (2024.1.1 起由 Go 1.21 构建\xFF0CWin7 上直接起不来)"},
        {6, L";"},
        {8, L"; 不需要手动重启服务\x3002"},
        {10, L""},
        {11, L"[cloudflared]"},
        {16, L"; auto | amd64 | 386   \x2014\x2014 auto 按操作系统位数自动选"},
        {22, L"; 出网代理\xFF0C例如 http://127.0.0.1:7890\xFF1B填 auto 表示读系统(IE)代理设置"},
        {25, L"; mirrors=https://mirror.example.com/https://github.com/cloudflare/cloudflared/releases/download/"
             L"2023.10.0/cloudflared-windows-amd64.exe"},
        {39, L""},
        {41, L"; token  = 控制台托管的隧道\xFF08推荐\xFF0C只需要一条 token\xFF0C不用 cert.pem\xFF09"},
        {54, L""},
        {57, L"; 序号从 1 开始\xFF0Chostname 与 service 成对出现\xFF1A"},
        {58, L"; 1_hostname=rdp.example.com"},
        {60, L"; 2_hostname=ssh.example.com"},
        {62, L";"},
        {64, L"; 3_hostname=web.example.com"},
        {67, L";"},
        {69, L"; <n>_http_host_header=内网服务需要的 Host"},
        {72, L"; <n>_disable_chunked_encoding=1"},
        {73, L""},
        {78, L"; 日志目录\xFF08相对本配置文件所在目录\xFF09与单文件上限\xFF08MB\xFF0C"
             L"0 表示 16\xFF09"},
        {81, L"; 多久没看到 \"Registered tunnel connection\" 就写一条告警\xFF08秒\xFF09"},
    };
    for (const Case& c : cases) EXPECT_EQ(lines[c.number - 1], c.text) << "line " << c.number;
}

}  // namespace
}  // namespace mw
