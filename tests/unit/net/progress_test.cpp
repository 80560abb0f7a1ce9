// The progress line: percentage, sizes, average speed and the remaining-time units.
#include <gtest/gtest.h>

#include "net/progress.h"

namespace mw {
namespace {

TEST(Progress, Lines) {
    const uint64_t MiB = 1048576;
    struct Case {
        const wchar_t* label;
        uint64_t done;
        uint64_t total;
        uint64_t elapsedMs;
        const wchar_t* line;
    } cases[] = {
        {L"进度", 5 * MiB, 20 * MiB, 10000, L"进度 25%  5.0/20.0 MB  512 KB/s  剩余 30 秒"},
        // 15 MiB missing at 5,120 KB/s average: 3 seconds.
        {L"进度", 5 * MiB, 20 * MiB, 1000, L"进度 25%  5.0/20.0 MB  5120 KB/s  剩余 3 秒"},
        // 15 MiB missing at 10 KB/s average: 1,536 seconds, shown in minutes.
        {L"进度", 10240, 15 * MiB + 10240, 1000, L"进度 0%  0.0/15.0 MB  10 KB/s  剩余 26 分钟"},
        // an average at or below 1 KB/s shows no estimate
        {L"进度", 1024, 20 * MiB, 1000, L"进度 0%  0.0/20.0 MB  1 KB/s  剩余 0 秒"},
        // 7,200 seconds left
        {L"进度", 2048, 2048 + 7200 * 2048, 1000, L"进度 0%  0.0/14.1 MB  2 KB/s  剩余 2.0 小时"},
        // a first line after 0.2 s divides by 0.5 s
        {L"进度", MiB, MiB + MiB / 2, 200, L"进度 66%  1.0/1.5 MB  2048 KB/s  剩余 0 秒"},
        {L"完成", 30 * MiB, 20 * MiB, 10000, L"完成 100%  30.0/20.0 MB  3072 KB/s  剩余 0 秒"},
        {L"中止", 3 * MiB, 0, 2000, L"中止 3.0 MB  1536 KB/s"},
        {L"进度", 0, 0, 0, L"进度 0.0 MB  0 KB/s"},
    };
    for (const Case& c : cases) EXPECT_EQ(ProgressText(c.label, c.done, c.total, c.elapsedMs), c.line);
    // After resuming 5 of 6 MiB, 100 KB in the first second: the speed and the time left come
    // from this transfer's bytes only.
    EXPECT_EQ(ProgressText(L"进度", 5 * MiB + 102400, 6 * MiB, 1000, 5 * MiB),
              L"进度 84%  5.1/6.0 MB  100 KB/s  剩余 9 秒");
    EXPECT_EQ(ProgressText(L"完成", 6 * MiB, 6 * MiB, 0, 6 * MiB), L"完成 100%  6.0/6.0 MB  0 KB/s  剩余 0 秒");
    // done * 100 would wrap in 64 bits here.
    std::wstring huge = ProgressText(L"进度", 9223372036854775807ull, 18446744073709551615ull, 1000);
    EXPECT_EQ(huge.substr(0, 6), L"进度 49%");
}

}  // namespace
}  // namespace mw
