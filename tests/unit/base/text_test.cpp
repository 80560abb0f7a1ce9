// Text helpers: formatting limits, folding, trimming, conversions, masking.
#include "base/text.h"

#include <gtest/gtest.h>

namespace mw {
namespace {

TEST(FormatText, KeepsUpTo4095CharactersAndRefusesMore) {
    std::wstring fits(4095, L'a');
    EXPECT_EQ(FormatText(L"%s", fits.c_str()), fits);
    std::wstring tooLong(4096, L'a');
    EXPECT_EQ(FormatText(L"%s", tooLong.c_str()), L"<format-overflow>");
    EXPECT_EQ(FormatText(L"%s%s", std::wstring(4094, L'b').c_str(), L"cd"), L"<format-overflow>");
}

TEST(FormatText, WindowsConventions) {
    EXPECT_EQ(FormatText(L"%s=%u %d %Iu %llu %.1f %02u %%", L"宽", 7u, -3, size_t(42),
                         18446744073709551615ull, 2.0, 5u),
              L"宽=7 -3 42 18446744073709551615 2.0 05 %");
}

TEST(ToLowerAscii, FoldsOnlyAToZ) {
    EXPECT_EQ(ToLowerAscii(L"INSTALL --Status ÄÖ Ｚ"), L"install --status ÄÖ Ｚ");
}

TEST(StartsWithNoCase, Table) {
    struct Case {
        const wchar_t* text;
        const wchar_t* prefix;
        bool expected;
    } cases[] = {
        {L"--Port", L"--", true}, {L"-", L"--", false}, {L"", L"", true},
        {L"abc", L"", true},       {L"ABCdef", L"abc", true}, {L"ab", L"abc", false},
    };
    for (const Case& c : cases) EXPECT_EQ(StartsWithNoCase(c.text, c.prefix), c.expected) << c.text;
}

TEST(TrimText, Table) {
    struct Case {
        std::wstring in;
        std::wstring out;
    } cases[] = {
        {L" \t\r\n\u3000", L""},
        {L"\u3000 值 \r\n", L"值"},
        {L"\vx ", L"\vx"},
        {L"a\fb", L"a\fb"},
        {L"", L""},
        {std::wstring(L"\0x", 2), std::wstring(L"\0x", 2)},
    };
    for (const Case& c : cases) EXPECT_EQ(TrimText(c.in), c.out);
}

TEST(Utf8, RoundTripAndReplacement) {
    // A surrogate pair, written out so that it is two units on every platform.
    std::wstring text = L"状态: 运行中 \xD83D\xDE00";
    EXPECT_EQ(Utf8ToWide(WideToUtf8(text)), text);
    EXPECT_EQ(WideToUtf8(L"注册"), "\xE6\xB3\xA8\xE5\x86\x8C");
    EXPECT_EQ(WideToUtf8(L"\xD83D\xDE00"), "\xF0\x9F\x98\x80");
    // Invalid UTF-8 becomes U+FFFD instead of falling back to the ANSI code page.
    std::wstring decoded = Utf8ToWide("a\xFF" "b");
    EXPECT_EQ(decoded.front(), L'a');
    EXPECT_EQ(decoded.back(), L'b');
    EXPECT_NE(decoded.find(L'\uFFFD'), std::wstring::npos);
    EXPECT_EQ(WideToUtf8(L""), "");
    EXPECT_EQ(Utf8ToWide(""), L"");
}

// One table for the codec the product ships, run on Windows and on the build machine alike.
TEST(Utf8, DecodeTable) {
    const std::wstring bad(1, wchar_t(0xFFFD));
    struct Case {
        const char* what;
        std::string bytes;
        std::wstring text;
        bool strict;
    } cases[] = {
        {"ascii", "abc", L"abc", true},
        {"two, three and four bytes", "\xC2\xA9\xE6\xB3\xA8\xF0\x9F\x98\x80",
         std::wstring(L"\xA9\x6CE8") + wchar_t(0xD83D) + wchar_t(0xDE00), true},
        {"highest code point", "\xF4\x8F\xBF\xBF", std::wstring(1, wchar_t(0xDBFF)) + wchar_t(0xDFFF), true},
        {"stray continuation byte", "a\x80" "b", L"a" + bad + L"b", false},
        {"byte never used", "a\xFF" "b", L"a" + bad + L"b", false},
        {"overlong slash", "\xC0\xAF", bad + bad, false},
        {"overlong three bytes", "\xE0\x80\xAF", bad + bad + bad, false},
        {"surrogate encoded", "\xED\xA0\x80", bad + bad + bad, false},
        {"above U+10FFFF", "\xF4\x90\x80\x80", bad + bad + bad + bad, false},
        {"cut at the end", "a\xE6\xB3", L"a" + bad, false},
        {"cut before ascii", "\xE6\xB3" "b", bad + L"b", false},
        {"cut four bytes", "\xF0\x9F\x98", bad, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::wstring decoded = Utf8ToWide(c.bytes);
        std::string units;
        for (wchar_t u : decoded) units += std::to_string(static_cast<unsigned>(u)) + " ";
        EXPECT_EQ(decoded, c.text) << units;
        EXPECT_EQ(IsStrictUtf8(c.bytes), c.strict);
        if (c.strict) {
            EXPECT_EQ(WideToUtf8(c.text), c.bytes);
        }
    }
}

TEST(Utf8, EncodeLoneSurrogatesAsReplacement) {
    EXPECT_EQ(WideToUtf8(std::wstring(L"a") + wchar_t(0xD800) + L"b"), "a\xEF\xBF\xBD" "b");
    EXPECT_EQ(WideToUtf8(std::wstring(L"a") + wchar_t(0xDC00)), "a\xEF\xBF\xBD");
    EXPECT_EQ(WideToUtf8(std::wstring(1, wchar_t(0xDBFF))), "\xEF\xBF\xBD");
    EXPECT_FALSE(IsStrictUtf8(""));
}

TEST(MaskToken, Table) {
    EXPECT_EQ(MaskToken(L""), L"(none)");
    EXPECT_EQ(MaskToken(L"a"), L"****");
    EXPECT_EQ(MaskToken(L"123456789012"), L"****");
    EXPECT_EQ(MaskToken(L"abcdefghijklm"), L"abcdef...jklm (len=13)");
    std::wstring token = L"eyJhIj" + std::wstring(174, L'x') + L"WXYZ";
    EXPECT_EQ(MaskToken(token), L"eyJhIj...WXYZ (len=184)");
}

TEST(MaskSecrets, EveryOccurrenceOfEverySecret) {
    const std::wstring token = L"eyJhIjoi" + std::wstring(40, L'Q') + L"fQ==";
    const std::wstring masked = MaskToken(token);
    struct Case {
        std::wstring text;
        std::vector<std::wstring> secrets;
        std::wstring expected;
    };
    const std::vector<Case> cases = {
        {L"(default: \"" + token + L"\") [$TUNNEL_TOKEN]", {token}, L"(default: \"" + masked + L"\") [$TUNNEL_TOKEN]"},
        {token + token + L" " + token, {token}, masked + masked + L" " + masked},
        {L"no secret here", {token}, L"no secret here"},
        {L"a " + token.substr(0, 20), {token}, L"a " + token.substr(0, 20)},
        {L"old=secret-one new=" + token, {L"", L"secret-one", token}, L"old=**** new=" + masked},
        // A secret whose masked form contains it again must not loop.
        {L"x*x", {L"*"}, L"x****x"},
    };
    for (const Case& c : cases) EXPECT_EQ(MaskSecrets(c.text, c.secrets), c.expected) << c.text.size();
}

TEST(Win32ErrorText, CodeColonMessage) {
    std::wstring text = Win32ErrorText(0x20001234u);
    EXPECT_EQ(text, L"536875572: (no description)");
    std::wstring denied = Win32ErrorText(5);
    EXPECT_EQ(denied.rfind(L"5: ", 0), 0u);
}

}  // namespace
}  // namespace mw
