// Cutting the end of a log file into its last non-blank lines.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "winsvc/status.h"

namespace mw {

using Lines = std::vector<std::wstring>;

TEST(SplitLogTailTest, KeepsTheLastNonBlankTrimmedLines) {
    const struct {
        const char* what;
        std::string bytes;
        int32_t maxLines;
        Lines expected;
    } cases[] = {
        {"empty", "", 12, {}},
        {"blank lines only", "\r\n \r\n\t\n", 12, {}},
        {"CR LF and surrounding blanks", "  a \r\n\r\nb\r\n", 12, {L"a", L"b"}},
        {"ideographic spaces", "\xE3\x80\x80x\xE3\x80\x80\n", 12, {L"x"}},
        {"last line without line end", "a\nb", 12, {L"a", L"b"}},
        {"blank lines do not count", "1\n2\n\n\n3\n\n", 2, {L"2", L"3"}},
        {"zero lines wanted", "a\nb\n", 0, {}},
        {"Chinese text", "\xE6\x97\xA5\xE5\xBF\x97\r\n", 12, {L"\u65E5\u5FD7"}},
        {"cut sequence at the start", "\xBF\x97tail\nnext\n", 12, {L"\uFFFD\uFFFDtail", L"next"}},
    };
    for (const auto& c : cases) EXPECT_EQ(SplitLogTail(c.bytes, c.maxLines), c.expected) << c.what;
}

TEST(SplitLogTailTest, KeepsTwelveOfManyOldestFirst) {
    std::string bytes;
    for (int i = 1; i <= 100; ++i) bytes += "line " + std::to_string(i) + "\r\n\r\n";
    Lines tail = SplitLogTail(bytes, 12);
    ASSERT_EQ(tail.size(), 12u);
    EXPECT_EQ(tail.front(), L"line 89");
    EXPECT_EQ(tail.back(), L"line 100");
}

TEST(LogTailStartTest, ReadsOnlyTheLast128KiB) {
    EXPECT_EQ(LogTailStart(0), 0u);
    EXPECT_EQ(LogTailStart(131072), 0u);
    EXPECT_EQ(LogTailStart(131073), 1u);
    EXPECT_EQ(LogTailStart(1048576), 1048576u - 131072u);
}

}  // namespace mw
