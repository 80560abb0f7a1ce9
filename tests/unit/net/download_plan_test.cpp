// Segment count and boundaries, segment file names and the URL order of a download.
#include <gtest/gtest.h>

#include "base/text.h"
#include "net/download_plan.h"

namespace mw {
namespace {

TEST(DownloadPlan, SegmentCount) {
    struct Case {
        uint64_t size;
        bool range;
        int chunks;
        int n;
    } cases[] = {
        {4194303, true, 8, 1},   // below 4 MiB
        {4194304, true, 8, 8},   // exactly 4 MiB
        {0, true, 8, 1},         // 206 without a total: cannot be split
        {50000000, false, 8, 1}, // no range support
        {50000000, true, 1, 1},  {50000000, true, 0, 1}, {50000000, true, -4, 1},
        {50000000, true, 16, 16}, {50000000, true, 40, 16},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SegmentCount(c.size, c.range, c.chunks), c.n) << c.size << " " << c.chunks;
    }
}

TEST(DownloadPlan, RangesCoverTheFileExactly) {
    const uint64_t L = 1048576;
    std::vector<ByteRange> four = SegmentRanges(4 * L, 4);
    ASSERT_EQ(four.size(), 4u);
    for (uint64_t i = 0; i < 4; ++i) {
        EXPECT_EQ(four[i].first, L * i);
        EXPECT_EQ(four[i].last, L * (i + 1) - 1);
    }
    std::vector<ByteRange> three = SegmentRanges(3 * L + 1, 3);
    ASSERT_EQ(three.size(), 3u);
    EXPECT_EQ(three[0].first, 0u);
    EXPECT_EQ(three[0].last, L - 1);
    EXPECT_EQ(three[1].first, L);
    EXPECT_EQ(three[1].last, 2 * L - 1);
    EXPECT_EQ(three[2].first, 2 * L);
    EXPECT_EQ(three[2].last, 3 * L);

    for (uint64_t size : {4194304ull, 4194305ull, 33554431ull, 10000019ull}) {
        for (int n = 2; n <= 16; ++n) {
            std::vector<ByteRange> r = SegmentRanges(size, n);
            ASSERT_EQ(r.size(), static_cast<size_t>(n));
            EXPECT_EQ(r.front().first, 0u);
            EXPECT_EQ(r.back().last, size - 1);
            for (size_t i = 1; i < r.size(); ++i) EXPECT_EQ(r[i].first, r[i - 1].last + 1);
        }
    }
    EXPECT_TRUE(SegmentRanges(0, 4).empty());
    EXPECT_TRUE(SegmentRanges(3, 4).empty());
}

TEST(DownloadPlan, NamesAndUrlOrder) {
    EXPECT_EQ(SegmentPath(L"C:\\x\\cloudflared.exe.part", 12), L"C:\\x\\cloudflared.exe.part.12");
    std::vector<std::wstring> urls = BuildUrlList(L"http://a/", {L"", L"http://b/", L"  ", L"http://c/", L""});
    EXPECT_EQ(urls, (std::vector<std::wstring>{L"http://a/", L"http://b/", L"http://c/"}));
    EXPECT_TRUE(BuildUrlList(L"", {}).empty());
}

TEST(SegmentIdentity, RecordRoundTripAndRejects) {
    SegmentIdentity identity;
    identity.url = L"https://a/cf.exe?x=1";
    identity.size = 31457280;
    identity.etag = L"\"5f-1\"";
    identity.lastModified = L"Tue, 31 Oct 2023 11:41:00 GMT";
    identity.segments = 4;
    const std::wstring text = SegmentIdentityText(identity);
    EXPECT_EQ(text, L"url=https://a/cf.exe?x=1\r\nsize=31457280\r\netag=\"5f-1\"\r\n"
                    L"last_modified=Tue, 31 Oct 2023 11:41:00 GMT\r\nsegments=4\r\n");
    SegmentIdentity back;
    ASSERT_TRUE(ParseSegmentIdentity(text, &back));
    EXPECT_TRUE(SameRemoteFile(back, identity));
    for (const wchar_t* broken : {L"", L"url=x\r\nsize=10\r\netag=\r\nlast_modified=\r\n",
                                  L"url=x\r\nsize=1x\r\netag=\r\nlast_modified=\r\nsegments=4\r\n",
                                  L"url=x\r\nsize=0\r\netag=\r\nlast_modified=\r\nsegments=4\r\n",
                                  L"url=x\r\nsize=99999999999999999999\r\netag=\r\nlast_modified=\r\nsegments=4"}) {
        EXPECT_FALSE(ParseSegmentIdentity(broken, &back)) << WideToUtf8(broken);
    }
}

}  // namespace
}  // namespace mw
