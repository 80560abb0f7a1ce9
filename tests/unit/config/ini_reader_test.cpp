// Decoding by the leading bytes, the line grammar and the value conversions.
#include "config/ini_reader.h"

#include <gtest/gtest.h>

#include "base/text.h"

namespace mw {
namespace {

std::string Utf16Bytes(const std::wstring& text, bool bigEndian) {
    std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (wchar_t c : text) {
        char lo = static_cast<char>(c & 0xFF), hi = static_cast<char>((c >> 8) & 0xFF);
        out += bigEndian ? hi : lo;
        out += bigEndian ? lo : hi;
    }
    return out;
}

std::vector<IniEntry> Parse(const std::wstring& text) {
    std::vector<IniEntry> entries{IniEntry{L"stale", L"stale", L"stale"}};
    ParseIniText(text, entries);
    return entries;
}

TEST(IniDecode, EveryMarkedEncodingGivesTheSameText) {
    // A character outside the BMP checks that surrogate pairs survive both paths.
    const std::wstring text = L"[tunnel]\r\n; 注释，全角\r\nmode=config\r\nx=\xD83D\xDE00\r\n";
    const std::string utf8 = WideToUtf8(text);
    EXPECT_EQ(DecodeIniBytes("\xEF\xBB\xBF" + utf8), text);
    EXPECT_EQ(DecodeIniBytes(utf8), text);
    EXPECT_EQ(DecodeIniBytes(Utf16Bytes(text, false)), text);
    EXPECT_EQ(DecodeIniBytes(Utf16Bytes(text, true)), text);
}

TEST(IniDecode, EdgesOfTheByteRules) {
    EXPECT_EQ(DecodeIniBytes(""), L"");
    EXPECT_EQ(DecodeIniBytes("\xEF\xBB\xBF"), L"");
    EXPECT_EQ(DecodeIniBytes("\xFF\xFE"), L"");
    // The odd trailing byte of UTF-16 is dropped, in either byte order.
    EXPECT_EQ(DecodeIniBytes(std::string("\xFF\xFE" "a\0b\0c", 7)), L"ab");
    EXPECT_EQ(DecodeIniBytes(std::string("\xFE\xFF\0a\0b\0", 7)), L"ab");
    // Bytes that are not strictly UTF-8 (here GBK for "中") go through the ANSI code page.
    const std::string gbk = "a=\xD6\xD0";
    EXPECT_EQ(DecodeIniBytes(gbk), AnsiToWide(gbk));
}

TEST(IniGrammar, ValuesAfterCommentsTabsAndQuotes) {
    struct Case {
        const wchar_t* line;
        const wchar_t* key;
        const wchar_t* value;
    } cases[] = {
        {L"chunks = 8 ; faster", L"chunks", L"8"},
        {L"mirrors=x;y", L"mirrors", L"x;y"},
        // In the mirror list ";" separates and only " #" starts a comment; tabs are kept.
        {L"mirrors = a ; b ; c", L"mirrors", L"a ; b ; c"},
        {L"Mirrors = https://a/cf.exe ; https://b/cf.exe # two", L"Mirrors", L"https://a/cf.exe ; https://b/cf.exe"},
        {L"mirrors = a#1 ;\tb", L"mirrors", L"a#1 ;\tb"},
        {L"extra_args = --a x\t--b y\t; note", L"extra_args", L"--a x\t--b y"},
        {L"extra_args = --a\t--b", L"extra_args", L"--a"},
        {L"extra_args = --a ;x\t--b", L"extra_args", L"--a"},
        {L"token = \"ab=cd\"", L"token", L"\"ab=cd\""},
        {L"\t url =  a=b=c \r", L"url", L"a=b=c"},
        {L"\x3000proxy=\x3000", L"proxy", L""},
        {L"Key With Space=v", L"Key With Space", L"v"},
    };
    for (const Case& c : cases) {
        std::vector<IniEntry> entries = Parse(L"[s]\n" + std::wstring(c.line));
        ASSERT_EQ(entries.size(), 1u) << c.line;
        EXPECT_EQ(entries[0].key, c.key) << c.line;
        EXPECT_EQ(entries[0].value, c.value) << c.line;
    }
}

TEST(IniGrammar, SectionsCommentsAndSkippedLines) {
    std::vector<IniEntry> entries = Parse(
        L"top=1\r\n"
        L"; comment=no\r\n"
        L"  # hash=no\r\n"
        L"[ Tunnel ] trailing\r\n"
        L"MODE=config\r\n"
        L"no equals sign\r\n"
        L"=x\r\n"
        L"[cloudflared\r\n"
        L"chunks=2\r\n"
        L"chunks=8\r\n"
        L"[]\r\n"
        L"late=3");
    ASSERT_EQ(entries.size(), 5u);
    EXPECT_EQ(entries[0].section, L"");
    EXPECT_EQ(entries[1].section, L"Tunnel");
    EXPECT_EQ(entries[1].key, L"MODE");
    // The unclosed header is ignored: its keys stay in the previous section.
    EXPECT_EQ(entries[2].section, L"Tunnel");
    EXPECT_EQ(entries[4].section, L"");
    EXPECT_EQ(entries[4].value, L"3");

    EXPECT_EQ(IniGetString(entries, L"tunnel", L"mode", L"d"), L"config");
    EXPECT_EQ(IniGetString(entries, L"TUNNEL", L"chunks", L"d"), L"2");  // first wins
    EXPECT_EQ(IniGetString(entries, L"", L"top", L"d"), L"1");
    EXPECT_EQ(IniGetString(entries, L"tunnel", L"top", L"d"), L"d");
    EXPECT_EQ(IniGetString(entries, L"tunnel", L"comment", L"d"), L"d");
}

TEST(IniGrammar, OnlyLineFeedSplitsLines) {
    EXPECT_EQ(Parse(L"a=1\rb=2").size(), 1u);
    EXPECT_EQ(Parse(L"a=1\rb=2")[0].value, L"1\rb=2");
    EXPECT_TRUE(Parse(L"").empty());
    EXPECT_TRUE(Parse(L"\n\n\n").empty());
}

TEST(IniLookup, PresentEmptyValueIsNotTheDefault) {
    std::vector<IniEntry> entries = Parse(L"[s]\nk=");
    EXPECT_EQ(IniGetString(entries, L"s", L"k", L"d"), L"");
    EXPECT_EQ(IniGetInt(entries, L"s", L"k", 7), 7);
    EXPECT_TRUE(IniGetBool(entries, L"s", L"k", true));
}

TEST(IniLookup, IntegerConversion) {
    struct Case {
        const wchar_t* text;
        int32_t expected;
    } cases[] = {
        {L"42", 42},           {L"-5", -5},          {L"+7", 7},
        {L"12abc", 12},        {L"0x10", 0},         {L"+", -1},
        {L"-", -1},            {L"abc", -1},         {L"- 5", -1},
        {L"99999999999", 2147483647},                {L"2147483647", 2147483647},
        {L"-2147483648", -2147483647 - 1},           {L"-99999999999999999999", -2147483647 - 1},
        {L"007", 7},           {L"1.5", 1},
    };
    for (const Case& c : cases) {
        std::vector<IniEntry> entries{IniEntry{L"s", L"k", c.text}};
        EXPECT_EQ(IniGetInt(entries, L"s", L"k", -1), c.expected) << c.text;
    }
}

TEST(IniLookup, BooleanWords) {
    struct Case {
        const wchar_t* text;
        int expected;  // -1: the default
    } cases[] = {
        {L"1", 1},   {L"TRUE", 1}, {L" Yes ", 1}, {L"ON", 1},    {L"y", 1},
        {L"0", 0},   {L"False", 0}, {L"no", 0},   {L"OFF", 0},   {L"N", 0},
        {L"2", -1},  {L"enabled", -1}, {L"yes please", -1},
    };
    for (const Case& c : cases) {
        std::vector<IniEntry> entries{IniEntry{L"s", L"k", c.text}};
        for (bool fallback : {false, true}) {
            bool expected = c.expected < 0 ? fallback : c.expected == 1;
            EXPECT_EQ(IniGetBool(entries, L"s", L"k", fallback), expected) << c.text;
        }
    }
}

}  // namespace
}  // namespace mw
