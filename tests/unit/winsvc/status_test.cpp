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

TEST(TunnelStatusLines, FromTheStateFileAndTheLiveAnswer) {
    EXPECT_EQ(TunnelStatusLines(nullptr, nullptr, 0), (Lines{L"守护进程: 未运行"}));
    const uint64_t second = 10000000ULL;
    const uint64_t now = 500000 * kFileTimeHour / 3600 * 3600;
    RunState state;
    state.supervisorPid = 412;
    state.connectorPid = 3080;
    state.connectorStarted = now - (2 * 86400 + 3 * 3600 + 4 * 60 + 5) * second;
    state.hasExit = true;
    state.lastExitCode = 255;
    state.restarts = {now - 2 * kFileTimeHour, now - 600 * second, now - 60 * second};
    ReadyAnswer live;
    live.answered = true;
    live.status = 200;
    live.connections = 4;
    EXPECT_EQ(TunnelStatusLines(&state, &live, now),
              (Lines{L"守护进程: PID 412", L"cloudflared 进程: PID 3080，已运行 2 天 3:04:05", L"隧道可用连接: 4",
                     L"近一小时重启: 2 次", L"上次退出码: 255（0x000000FF）"}));
    state.connectorPid = 0;
    state.hasExit = false;
    ReadyAnswer silent;
    silent.error = L"12029: 无法连接到服务器";
    EXPECT_EQ(TunnelStatusLines(&state, &silent, now),
              (Lines{L"守护进程: PID 412", L"cloudflared 进程: 未运行（等待重启）",
                     L"隧道可用连接: 无应答（12029: 无法连接到服务器）", L"近一小时重启: 2 次"}));
    EXPECT_EQ(TunnelStatusLines(&state, nullptr, now).size(), 3u);
}

TEST(NewestLog, TheFileWrittenLast) {
    EXPECT_EQ(NewestLog({}, L"C:\\logs\\today.log"), L"C:\\logs\\today.log");
    EXPECT_EQ(NewestLog({{L"service.log", 5}, {L"mosswarden-20261210.log", 9}, {L"mosswarden-20261211.log", 7}},
                        L"x"),
              L"mosswarden-20261210.log");
}

}  // namespace mw
