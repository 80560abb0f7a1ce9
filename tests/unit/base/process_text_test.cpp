// Environment block merging and output line splitting of the child process runner.
#include "base/process_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace mw {
namespace {

template <size_t N>
std::wstring Block(const wchar_t (&literal)[N]) {
    return std::wstring(literal, N - 1);
}

TEST(MergeEnvironmentBlock, ReplacesInheritedNamesCaseInsensitivelyAndEndsWithDoubleNul) {
    struct Case {
        const char* what;
        std::wstring inherited;  // empty: no inherited block at all
        EnvironmentList extra;
        std::wstring expected;
    };
    const std::vector<Case> cases = {
        {"nothing at all", L"", {}, Block(L"\0\0")},
        {"inherited only", Block(L"A=1\0=C:=C:\\x\0\0"), {}, Block(L"A=1\0=C:=C:\\x\0\0")},
        {"appended after", Block(L"A=1\0\0"), {{L"TUNNEL_TOKEN", L"new"}}, Block(L"A=1\0TUNNEL_TOKEN=new\0\0")},
        {"stale token replaced", Block(L"A=1\0tunnel_Token=old\0Path=p\0\0"), {{L"TUNNEL_TOKEN", L"new"}},
         Block(L"A=1\0Path=p\0TUNNEL_TOKEN=new\0\0")},
        {"drive entries are not matched by their empty name", Block(L"=C:=C:\\x\0\0"), {{L"C:", L"v"}},
         Block(L"=C:=C:\\x\0C:=v\0\0")},
        {"later pair of a name wins", L"", {{L"X", L"1"}, {L"Y", L"2"}, {L"x", L"3"}}, Block(L"Y=2\0x=3\0\0")},
        {"unsafe pairs are skipped", L"", {{L"", L"v"}, {L"A=B", L"v"}, {L"N", std::wstring(L"a\0b", 3)}},
         Block(L"\0\0")},
        {"empty value kept", L"", {{L"E", L""}}, Block(L"E=\0\0")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const wchar_t* inherited = c.inherited.empty() ? nullptr : c.inherited.c_str();
        EXPECT_EQ(MergeEnvironmentBlock(inherited, c.extra), c.expected);
    }
}

std::vector<std::wstring> Split(const std::vector<std::string>& reads) {
    std::vector<std::wstring> lines;
    LineHandler collect = [&lines](const std::wstring& line) { lines.push_back(line); };
    OutputLineSplitter splitter;
    for (const std::string& bytes : reads) splitter.Feed(bytes.data(), bytes.size(), collect);
    splitter.Finish(collect);
    return lines;
}

TEST(OutputLineSplitter, CutsTrimsAndDecodesLines) {
    struct Case {
        const char* what;
        std::vector<std::string> reads;
        std::vector<std::wstring> expected;
    };
    const std::vector<Case> cases = {
        {"empty line skipped, trailing CR and spaces trimmed", {"a\r\n\r\nb  \r\n"}, {L"a", L"b"}},
        {"mixed trailing CR and space", {"c \r \r\n"}, {L"c"}},
        {"only blank lines", {"\n\n \r\n"}, {}},
        {"unterminated remainder delivered untrimmed", {"x \r"}, {L"x \r"}},
        {"bare CR inside a line stays", {"a\rb\n"}, {L"a\rb"}},
        {"line split across reads", {"ab", "c\nd", "e\n"}, {L"abc", L"de"}},
        {"leading spaces kept", {"  in\n"}, {L"  in"}},
        {"Chinese UTF-8", {"\xE9\x9A\xA7\xE9\x81\x93\xE5\xB7\xB2\xE6\xB3\xA8\xE5\x86\x8C\n"}, {L"隧道已注册"}},
        {"UTF-8 character split across reads", {"\xE9\x9A", "\xA7\n"}, {L"隧"}},
        {"invalid byte becomes U+FFFD", {"a\xFF" "b\n"}, {L"a\uFFFDb"}},
        {"exactly 64 KiB without LF is kept", {std::string(65536, 'x'), "\n"}, {std::wstring(65536, L'x')}},
        {"over 64 KiB without LF is dropped, later bytes start anew", {std::string(65537, 'x'), "tail\n"},
         {L"tail"}},
        {"a line whose LF arrives in the read that crosses the limit is kept",
         {std::string(60000, 'x'), std::string(6000, 'x') + "\n"},
         {std::wstring(66000, L'x')}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Split(c.reads), c.expected);
    }
}

TEST(OutputLineSplitter, EmptyHandlerDropsLines) {
    OutputLineSplitter splitter;
    splitter.Feed("a\nb", 3, LineHandler());
    splitter.Finish(LineHandler());
    std::vector<std::wstring> lines;
    splitter.Finish([&lines](const std::wstring& line) { lines.push_back(line); });
    EXPECT_TRUE(lines.empty());
}

}  // namespace
}  // namespace mw
