// Range probe, single and segmented transfers, and the mirror fallback against the fault server.
#include <algorithm>

#include "base/handles.h"
#include "net/download.h"
#include "net/download_plan.h"
#include "net/probe.h"
#include "net/proxy.h"
#include "net/transfer.h"
#include "net_fixture.h"

namespace mw {
namespace {

const uint64_t kMiB = 1048576;

class DownloadTest : public NetTest {
protected:
    std::wstring Part() const { return Path(L"cf.exe.part"); }
    DownloadOptions Options(const std::wstring& url, int chunks) const {
        DownloadOptions options;
        options.primaryUrl = url;
        options.target = Path(L"cf.exe");
        options.timeoutSeconds = 30;
        options.chunks = chunks;
        options.stallSeconds = 60;
        options.progressInterval = 3;
        return options;
    }
    bool Single(const std::wstring& url, uint64_t expected, bool range, std::wstring* error,
                ProgressState* progress = nullptr, int stallSeconds = 60, int progressInterval = 3) {
        ProgressState local;
        return DownloadSingle(url, L"", Part(), expected, range, 30, stallSeconds, progressInterval,
                              progress ? progress : &local, error);
    }
    bool SegmentFilesLeft() const {
        for (int i = 0; i < kMaxSegments; ++i) {
            if (FileExists(SegmentPath(Part(), i))) return true;
        }
        return false;
    }
};

TEST_F(DownloadTest, ProbeTable) {
    struct Case {
        std::wstring url;
        bool ok;
        uint64_t size;
        bool range;
        uint32_t status;
        std::wstring error;
    } cases[] = {
        {Url(L"/file/4096"), true, 4096, true, 206, L""},
        {Url(L"/file/4096", L"star=1"), true, 0, true, 206, L""},
        {Url(L"/file/4096", L"norange=1"), true, 4096, false, 200, L""},
        {Url(L"/file/4096", L"norange=1&nolength=1"), true, 0, false, 200, L""},
        {Url(L"/file/4096", L"status=404"), false, 0, false, 404, L"HTTP 状态码 404"},
        {Url(L"/file/0"), false, 0, false, 416, L"HTTP 状态码 416"},
        {Url(L"/file/9", L"redirect=/file/4096"), true, 4096, true, 206, L""},
    };
    for (const Case& c : cases) {
        ProbeResult r = ProbeRange(c.url, L"", 30);
        EXPECT_EQ(r.ok, c.ok) << c.url;
        EXPECT_EQ(r.size, c.size) << c.url;
        EXPECT_EQ(r.rangeSupported, c.range) << c.url;
        EXPECT_EQ(r.status, c.status) << c.url;
        EXPECT_EQ(r.error, c.error) << c.url;
    }
    ProbeResult refused = ProbeRange(L"http://127.0.0.1:1/x", L"", 30);
    EXPECT_FALSE(refused.ok);
    EXPECT_EQ(refused.status, 0u);
    EXPECT_EQ(refused.error.rfind(L"请求失败: ", 0), 0u) << refused.error;
}

TEST_F(DownloadTest, SingleFreshDownloadSendsNoRange) {
    std::wstring error;
    ASSERT_TRUE(Single(Url(L"/file/300000", L"norange=1"), 300000, false, &error)) << error;
    EXPECT_EQ(ReadAll(Part()), PatternBytes(0, 300000));
    EXPECT_EQ(ServerRanges(), std::vector<std::string>{"-"});
}

TEST_F(DownloadTest, SingleResumesFromTenBytes) {
    ASSERT_TRUE(WriteBytes(Part(), PatternBytes(0, 10)));
    ProgressState progress;
    std::wstring error;
    ASSERT_TRUE(Single(Url(L"/file/200000"), 200000, true, &error, &progress)) << error;
    EXPECT_EQ(ReadAll(Part()), PatternBytes(0, 200000));
    EXPECT_EQ(ServerRanges(), std::vector<std::string>{"bytes=10-199999"});
    EXPECT_EQ(progress.done.load(), 200000u) << "the counter starts at the resumed 10 bytes";
    EXPECT_EQ(CountOf(LogText(), L"[INFO] 续传：从已有 10 字节处接上"), 1u);
}

TEST_F(DownloadTest, SingleStartsOverWhenTheServerIgnoresTheRange) {
    ASSERT_TRUE(WriteBytes(Part(), std::string(10, 'x')));
    std::wstring error;
    ASSERT_TRUE(Single(Url(L"/file/200000", L"range_ok=0"), 200000, true, &error)) << error;
    EXPECT_EQ(ReadAll(Part()), PatternBytes(0, 200000));
    EXPECT_EQ(CountOf(LogText(), L"[WARN] 服务器不支持 Range，从头下载"), 1u);
}

TEST_F(DownloadTest, SingleCompletePartialMakesNoRequest) {
    ASSERT_TRUE(WriteBytes(Part(), PatternBytes(0, 5000)));
    std::wstring error;
    EXPECT_TRUE(Single(Url(L"/file/4096"), 4096, true, &error)) << error;
    EXPECT_TRUE(ServerRanges().empty());
    EXPECT_EQ(ReadAll(Part()).size(), 5000u);

    // Through the per-URL step the final line of such a partial file reads 100%.
    ASSERT_TRUE(WriteBytes(Part(), PatternBytes(0, 4096)));
    ASSERT_TRUE(DownloadFromUrl(Url(L"/file/4096"), Options(L"", 1), &error)) << error;
    EXPECT_EQ(CountOf(LogText(), L"[INFO] 完成 100%  0.0/0.0 MB  0 KB/s  剩余 0 秒"), 1u) << WideToUtf8(LogText());
}

TEST_F(DownloadTest, SingleUnknownSizeAcceptsAnyBodyAndDoesNotResume) {
    ASSERT_TRUE(WriteBytes(Part(), std::string(10, 'x')));
    std::wstring error;
    // A 206 without a total: a resume range "bytes=10-0" would be invalid, so the file starts over.
    ASSERT_TRUE(Single(Url(L"/file/70000", L"star=1"), 0, true, &error)) << error;
    EXPECT_EQ(ReadAll(Part()), PatternBytes(0, 70000));
    EXPECT_EQ(ServerRanges(), std::vector<std::string>{"-"});
}

TEST_F(DownloadTest, SingleFailures) {
    struct Case {
        std::wstring query;
        uint64_t expected;
        std::wstring errorPrefix;
        size_t kept;  // bytes left in the partial file
    } cases[] = {
        {L"status=404", 100000, L"HTTP 状态码 404", 0},
        {L"short=30000", 100000, L"下载不完整：期望 100000 字节，实际 30000", 30000},
        {L"reset_at=30000", 100000, L"读取失败: ", 30000},
    };
    for (const Case& c : cases) {
        DeleteFileIfExists(Part());
        std::wstring error;
        EXPECT_FALSE(Single(Url(L"/file/100000", c.query + L"&norange=1"), c.expected, false, &error)) << c.query;
        EXPECT_EQ(error.rfind(c.errorPrefix, 0), 0u) << c.query << ": " << error;
        EXPECT_EQ(ReadAll(Part()).size(), c.kept) << c.query;
    }
}

// Stall means no byte for stall_timeout seconds, noticed while waiting: a pause shorter than the
// limit goes on, a silence ends the transfer within the limit and a second, and 0 turns it off.
TEST_F(DownloadTest, StallTimeoutOnOneConnectionAndOnSegments) {
    struct Case {
        int chunks;
        std::wstring query;
        int stallSeconds;
        bool ok;
    } cases[] = {
        {1, L"stall=1.5&stall_at=100000", 3, true},
        {1, L"stall=1.5&stall_at=100000", 0, true},
        {1, L"stall=30&stall_at=100000", 2, false},
        {4, L"stall=1.5&stall_at=100000", 3, true},
        {4, L"stall=30&stall_at=100000", 2, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(WideToUtf8(c.query) + " chunks " + std::to_string(c.chunks) + " stall " +
                     std::to_string(c.stallSeconds));
        tag_ += L"s";
        DeleteFileIfExists(Part());
        DownloadOptions options = Options(Url(L"/file/4194304", c.query), c.chunks);
        options.stallSeconds = c.stallSeconds;
        std::wstring error;
        uint64_t started = GetTickCount64();
        bool ok = DownloadFromUrl(options.primaryUrl, options, &error);
        uint64_t took = GetTickCount64() - started;
        EXPECT_EQ(ok, c.ok) << WideToUtf8(error);
        if (c.ok) {
            EXPECT_TRUE(ReadAll(Part()) == PatternBytes(0, 4194304));
        } else {
            EXPECT_EQ(error, L"2 秒没有任何数据，判定卡死");
            EXPECT_LT(took, 3000u + 1000u) << "the limit, a second, and the probe";
        }
    }
}

// A stated size beyond the cap is refused before a byte is written; a body without a stated size
// stops at the cap and is deleted.
TEST_F(DownloadTest, SizeCap) {
    std::wstring error;
    EXPECT_FALSE(DownloadFromUrl(Url(L"/file/1099511627776"), Options(L"", 4), &error));
    EXPECT_EQ(error, L"远端大小异常");
    EXPECT_FALSE(FileExists(Part()));
    EXPECT_EQ(ServerRanges(), std::vector<std::string>{"bytes=0-0"});

    EXPECT_FALSE(DownloadFromUrl(Url(L"/file/1099511627776", L"norange=1&nolength=1"), Options(L"", 4), &error));
    EXPECT_EQ(error, L"远端大小异常");
    EXPECT_FALSE(FileExists(Part()));
    EXPECT_EQ(CountOf(LogText(), L"[INFO] 中止 256.0 MB"), 1u) << "it stopped at the cap";
}

TEST_F(DownloadTest, SingleWritesPeriodicProgress) {
    ProgressState progress;
    progress.total = 450000;
    progress.start = GetTickCount64();
    std::wstring error;
    ASSERT_TRUE(Single(Url(L"/file/450000", L"throttle=200000"), 450000, true, &error, &progress, 60, 1)) << error;
    EXPECT_GE(CountOf(LogText(), L"[INFO] 进度 "), 1u);
}

TEST_F(DownloadTest, SegmentedJoinsExactBytesAndRemovesStaleSegments) {
    ASSERT_TRUE(WriteBytes(SegmentPath(Part(), 3), "stale"));
    ASSERT_TRUE(WriteBytes(SegmentPath(Part(), 12), "stale"));
    std::wstring error;
    uint32_t status = 0;
    // extra=777: each range is answered with more bytes than asked; only the range is written.
    ASSERT_TRUE(DownloadFromUrl(Url(L"/file/4194305", L"extra=777"), Options(L"", 4), &error, &status)) << error;
    EXPECT_EQ(status, 206u);
    EXPECT_TRUE(ReadAll(Part()) == PatternBytes(0, 4194305));
    EXPECT_FALSE(SegmentFilesLeft());
    std::vector<std::string> ranges = ServerRanges();
    std::sort(ranges.begin() + 1, ranges.end());
    EXPECT_EQ(ranges, (std::vector<std::string>{"bytes=0-0", "bytes=0-1048575", "bytes=1048576-2097151",
                                                "bytes=2097152-3145727", "bytes=3145728-4194304"}));
    std::wstring log = LogText();
    EXPECT_EQ(CountOf(log, L"[INFO] 远端大小 4.0 MB，支持断点/分段"), 1u);
    EXPECT_EQ(CountOf(log, L"[INFO] 完成 100%  4.0/4.0 MB"), 1u);
}

TEST_F(DownloadTest, SegmentedFailures) {
    struct Case {
        std::wstring query;
        std::wstring error;
    } cases[] = {
        {L"fail_start=2097152", L"HTTP 状态码 404"},
        // Every segment answered 200: the one at byte 0 could use it, the later ones must not.
        {L"range_ok=1", L"HTTP 状态码 200"},
    };
    for (const Case& c : cases) {
        tag_ += L"x";
        DeleteFileIfExists(Part());
        std::wstring error;
        EXPECT_FALSE(DownloadFromUrl(Url(L"/file/4194304", c.query), Options(L"", 4), &error)) << c.query;
        EXPECT_EQ(error, c.error) << c.query;
        // Kept for a resume at the same remote file.
        EXPECT_TRUE(SegmentFilesLeft()) << c.query;
        EXPECT_TRUE(FileExists(SegmentIdentityPath(Part()))) << c.query;
        EXPECT_EQ(ServerRanges().size(), 5u) << "all segments run to the end: " << WideToUtf8(c.query);
    }
    EXPECT_EQ(CountOf(LogText(), L"[INFO] 中止 "), 2u);
}

// Every segment stalls at 63%: the failed attempt keeps the segment files, and the next attempt
// at the same remote file asks only for the missing range of each and joins the exact bytes.
// (The server stalls a connection only after 660,000 bytes of its own body, so the shorter
// bodies of the second attempt pass.)
TEST_F(DownloadTest, SegmentedDownloadResumesTheMissingRanges) {
    const uint64_t size = 4194304;
    const std::wstring url = Url(L"/file/4194304", L"stall=4&stall_at=660000");
    DownloadOptions options = Options(L"", 4);
    options.stallSeconds = 1;
    std::wstring error;
    EXPECT_FALSE(DownloadFromUrl(url, options, &error));
    EXPECT_EQ(error, L"1 秒没有任何数据，判定卡死");
    ASSERT_TRUE(FileExists(SegmentIdentityPath(Part())));
    std::vector<std::string> expected;
    uint64_t kept = 0;
    for (int i = 0; i < 4; ++i) {
        uint64_t have = FileSizeOrZero(SegmentPath(Part(), i));
        ASSERT_GT(have, 0u);
        ASSERT_LE(have, 660000u);
        kept += have;
        uint64_t first = 1048576u * static_cast<uint64_t>(i);
        expected.push_back(WideToUtf8(FormatText(L"bytes=%llu-%llu", static_cast<unsigned long long>(first + have),
                                                 static_cast<unsigned long long>(first + 1048575))));
    }
    const size_t before = ServerRanges().size();

    ASSERT_TRUE(DownloadFromUrl(url, options, &error)) << WideToUtf8(error);
    EXPECT_TRUE(ReadAll(Part()) == PatternBytes(0, size));
    std::vector<std::string> ranges = ServerRanges();
    ranges.erase(ranges.begin(), ranges.begin() + static_cast<std::ptrdiff_t>(before));
    ASSERT_EQ(ranges.size(), 5u);
    EXPECT_EQ(ranges[0], "bytes=0-0");
    std::sort(ranges.begin() + 1, ranges.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(std::vector<std::string>(ranges.begin() + 1, ranges.end()), expected);
    EXPECT_EQ(CountOf(LogText(), FormatText(L"[INFO] 续传：已有 %llu 字节", static_cast<unsigned long long>(kept))), 1u);
    EXPECT_FALSE(SegmentFilesLeft());
    EXPECT_FALSE(FileExists(SegmentIdentityPath(Part())));
}

// A connection cut after some data is taken up again at once where it broke off, within the same
// attempt; a connection that brings nothing ends the segment.
TEST_F(DownloadTest, ACutSegmentContinuesAtOnceWhileItGainsBytes) {
    std::wstring error;
    ASSERT_TRUE(DownloadFromUrl(Url(L"/file/4194304", L"reset_at=400000"), Options(L"", 4), &error))
        << WideToUtf8(error);
    EXPECT_TRUE(ReadAll(Part()) == PatternBytes(0, 4194304));
    std::vector<std::string> ranges = ServerRanges();
    // Per 1 MiB segment: 0-, then +400000 and +800000 (fewer only if a reset took less).
    EXPECT_GE(ranges.size(), 1u + 4u * 3u);
    EXPECT_NE(std::find(ranges.begin(), ranges.end(), "bytes=400000-1048575"), ranges.end());
    EXPECT_FALSE(SegmentFilesLeft());

    tag_ += L"z";
    DeleteFileIfExists(Part());
    EXPECT_FALSE(DownloadFromUrl(Url(L"/file/4194304", L"reset_at=0"), Options(L"", 4), &error));
    EXPECT_EQ(error.rfind(L"读取失败: ", 0), 0u) << WideToUtf8(error);
    EXPECT_EQ(ServerRanges().size(), 5u) << "no segment tried twice";
}

// Kept segments whose record names another URL, size, ETag or plan are discarded, and every
// segment is fetched whole.
TEST_F(DownloadTest, KeptSegmentsOfAnotherRemoteFileAreDiscarded) {
    const std::wstring url = Url(L"/file/4194304");
    SegmentIdentity same;
    same.url = url;
    same.size = 4194304;
    same.segments = 4;
    SegmentIdentity otherUrl = same, otherSize = same, otherTag = same, otherPlan = same;
    otherUrl.url += L"&x=1";
    otherSize.size = 4194305;
    otherTag.etag = L"\"abc\"";
    otherPlan.segments = 8;
    for (const SegmentIdentity* kept : {&otherUrl, &otherSize, &otherTag, &otherPlan}) {
        tag_ += L"m";
        const std::wstring taggedUrl = Url(L"/file/4194304");
        SegmentIdentity record = *kept;
        if (record.url == url) record.url = taggedUrl;
        ASSERT_TRUE(WriteTextFile(SegmentIdentityPath(Part()), SegmentIdentityText(record), false));
        for (int i = 0; i < 4; ++i) ASSERT_TRUE(WriteBytes(SegmentPath(Part(), i), std::string(1000, 'x')));
        std::wstring error;
        ASSERT_TRUE(DownloadFromUrl(taggedUrl, Options(L"", 4), &error)) << WideToUtf8(error);
        EXPECT_TRUE(ReadAll(Part()) == PatternBytes(0, 4194304));
        std::vector<std::string> ranges = ServerRanges();
        std::sort(ranges.begin() + 1, ranges.end());
        EXPECT_EQ(ranges, (std::vector<std::string>{"bytes=0-0", "bytes=0-1048575", "bytes=1048576-2097151",
                                                    "bytes=2097152-3145727", "bytes=3145728-4194303"}));
    }
    EXPECT_EQ(CountOf(LogText(), L"续传"), 0u);
}

TEST_F(DownloadTest, UnstatedTotalTakesTheSingleConnection) {
    std::wstring error;
    ASSERT_TRUE(DownloadFromUrl(Url(L"/file/4194304", L"star=1"), Options(L"", 8), &error)) << error;
    EXPECT_TRUE(ReadAll(Part()) == PatternBytes(0, 4194304));
    EXPECT_EQ(ServerRanges(), (std::vector<std::string>{"bytes=0-0", "-"}));
    EXPECT_EQ(CountOf(LogText(), L"远端大小"), 0u);
}

TEST_F(DownloadTest, FailedProbeWritesNoFinalLine) {
    std::wstring error;
    uint32_t status = 0;
    EXPECT_FALSE(DownloadFromUrl(Url(L"/file/10", L"status=404"), Options(L"", 4), &error, &status));
    EXPECT_EQ(status, 404u);
    EXPECT_EQ(error, L"HTTP 状态码 404");
    EXPECT_EQ(CountOf(LogText(), L"中止"), 0u);
}

TEST_F(DownloadTest, JoinFailures) {
    std::wstring error;
    ASSERT_TRUE(WriteBytes(Path(L"s.0"), "abc"));
    EXPECT_FALSE(JoinSegments({Path(L"s.0"), Path(L"s.1")}, Path(L"joined"), &error));
    EXPECT_EQ(error, L"打开分段失败: " + Path(L"s.1"));
    ASSERT_TRUE(CreateDirectories(Path(L"dir")));
    EXPECT_FALSE(JoinSegments({Path(L"s.0")}, Path(L"dir"), &error));
    EXPECT_EQ(error.rfind(L"创建目标文件失败: ", 0), 0u);
}

TEST_F(DownloadTest, MirrorAfterA404StartsFresh) {
    ASSERT_TRUE(WriteBytes(Part(), std::string(10, 'x')));
    DownloadOptions options = Options(Url(L"/file/10", L"status=404"), 1);
    const std::wstring mirror = Url(L"/file/100000");
    options.mirrors = {L"", mirror};
    std::wstring error = L"untouched";
    uint32_t status = 7;
    ASSERT_TRUE(DownloadWithFallback(options, &error, &status));
    EXPECT_EQ(error, L"untouched");
    EXPECT_EQ(status, 7u);
    EXPECT_EQ(ReadAll(Part()), PatternBytes(0, 100000));
    // The mirror did not continue the old partial file: its download carried no range.
    EXPECT_EQ(ServerRanges(), (std::vector<std::string>{"bytes=0-0", "bytes=0-0", "-"}));
    std::wstring log = LogText();
    EXPECT_EQ(CountOf(log, L"[ERROR] 该地址失败: HTTP 状态码 404"), 1u);
    EXPECT_EQ(CountOf(log, L"[WARN] 换下一个地址重试: " + mirror), 1u);
    EXPECT_EQ(CountOf(log, L"该地址失败"), 1u);
}

TEST_F(DownloadTest, AllUrlsFailingReturnTheLastText) {
    DownloadOptions options = Options(Url(L"/file/10", L"status=404"), 4);
    options.mirrors = {Url(L"/file/10", L"status=500"), L"  "};
    std::wstring error;
    uint32_t status = 0;
    EXPECT_FALSE(DownloadWithFallback(options, &error, &status));
    EXPECT_EQ(error, L"HTTP 状态码 500");
    EXPECT_EQ(status, 500u);
    EXPECT_EQ(CountOf(LogText(), L"该地址失败"), 2u);
    EXPECT_EQ(CountOf(LogText(), L"换下一个地址重试"), 1u);

    options = Options(L"", 4);
    EXPECT_FALSE(DownloadWithFallback(options, &error, &status));
    EXPECT_EQ(error, L"下载失败");
    EXPECT_EQ(status, 0u);
}

DWORD WINAPI SetAfterASecondAndAHalf(LPVOID event) {
    Sleep(1500);
    SetEvent(static_cast<HANDLE>(event));
    return 0;
}

// A stop during a throttled transfer ends it within a read or two and tries no mirror; the
// single connection keeps what it has for resuming, the segmented one its segment files.
TEST_F(DownloadTest, ACancelEndsTheTransferAndTriesNoMirror) {
    for (int chunks : {1, 4}) {
        SCOPED_TRACE(chunks);
        UniqueHandle cancel(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        DownloadOptions options = Options(Url(L"/file/8388608", L"throttle=200000"), chunks);
        options.mirrors = {Url(L"/file/100000")};
        options.cancel = cancel.get();
        UniqueHandle setter(CreateThread(nullptr, 0, SetAfterASecondAndAHalf, cancel.get(), 0, nullptr));
        uint64_t started = GetTickCount64();
        std::wstring error;
        EXPECT_FALSE(DownloadWithFallback(options, &error));
        EXPECT_LT(GetTickCount64() - started, 8000u);
        WaitForSingleObject(setter.get(), INFINITE);
        EXPECT_EQ(error, L"收到停止信号，下载中止");
        EXPECT_EQ(CountOf(LogText(), L"换下一个地址重试"), 0u);
        EXPECT_EQ(CountOf(LogText(), L"该地址失败"), 0u);
        EXPECT_EQ(SegmentFilesLeft(), chunks == 4);
        uint64_t kept = 0;
        bool partLeft = FileExists(Part(), &kept);
        if (chunks == 1) {
            EXPECT_TRUE(partLeft && kept > 0 && kept < 8388608u) << kept;
        }
        DeleteFileW(Part().c_str());

        // Signalled before the start: not even the probe goes out.
        std::vector<std::string> before = ServerRanges();
        EXPECT_FALSE(DownloadWithFallback(options, &error));
        EXPECT_EQ(error, L"收到停止信号，下载中止");
        EXPECT_EQ(ServerRanges(), before);
    }
}

TEST_F(DownloadTest, ExplicitProxyCarriesEveryRequest) {
    ASSERT_FALSE(proxyPort_.empty()) << "MW_FAULT_PROXY_PORT is not set";
    DownloadOptions options = Options(Url(L"/file/4194304"), 2);
    options.proxy = L" " + ProxySetting();
    std::wstring error;
    ASSERT_TRUE(DownloadWithFallback(options, &error)) << error;
    std::string passed = ProxyLog();
    EXPECT_EQ(std::count(passed.begin(), passed.end(), '\n'), 3) << passed;  // probe and two segments
    EXPECT_EQ(CountOf(LogText(), L"[INFO] 代理: 使用配置 " + ProxySetting()), 1u);
}

// Sets Internet Options proxy values for one test and puts back what was there.
class InternetSettingsOverride {
public:
    InternetSettingsOverride() {
        RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings", 0,
                        nullptr, 0, KEY_READ | KEY_WRITE, nullptr, key_.put(), nullptr);
        for (Saved& s : saved_) {
            DWORD size = 8192;
            s.data.resize(size);
            s.present = RegQueryValueExW(key_.get(), s.name, nullptr, &s.type, s.data.data(), &size) == ERROR_SUCCESS;
            s.data.resize(s.present ? size : 0);
        }
    }
    ~InternetSettingsOverride() {
        for (const Saved& s : saved_) {
            if (s.present) {
                RegSetValueExW(key_.get(), s.name, 0, s.type, s.data.data(), static_cast<DWORD>(s.data.size()));
            } else {
                RegDeleteValueW(key_.get(), s.name);
            }
        }
    }
    void Set(const std::wstring& server, const std::wstring& bypass) {
        DWORD one = 1;
        RegSetValueExW(key_.get(), L"ProxyEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof(one));
        SetString(L"ProxyServer", server);
        SetString(L"ProxyOverride", bypass);
        RegDeleteValueW(key_.get(), L"AutoConfigURL");
    }

private:
    struct Saved {
        const wchar_t* name;
        bool present;
        DWORD type;
        std::vector<BYTE> data;
    };
    void SetString(const wchar_t* name, const std::wstring& value) {
        RegSetValueExW(key_.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    }
    UniqueRegKey key_;
    Saved saved_[4] = {{L"ProxyEnable", false, 0, {}},
                       {L"ProxyServer", false, 0, {}},
                       {L"AutoConfigURL", false, 0, {}},
                       {L"ProxyOverride", false, 0, {}}};
};

// "auto" takes the system proxy, except for hosts on the system's bypass list.
TEST_F(DownloadTest, AutoProxyHonoursTheBypassList) {
    ASSERT_FALSE(proxyPort_.empty()) << "MW_FAULT_PROXY_PORT is not set";
    InternetSettingsOverride settings;
    struct Case {
        std::wstring bypass;
        int viaProxy;
    } cases[] = {{L"<local>;10.*", 2}, {L"<local>; 127.0.0.*", 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(WideToUtf8(c.bypass));
        tag_ += L"b";
        DeleteFileIfExists(Part());
        settings.Set(L"127.0.0.1:" + proxyPort_, c.bypass);
        DownloadOptions options = Options(Url(L"/file/100000"), 1);
        options.proxy = L"auto";
        std::wstring error;
        ASSERT_TRUE(DownloadWithFallback(options, &error)) << WideToUtf8(error);
        std::string passed = ProxyLog();
        EXPECT_EQ(std::count(passed.begin(), passed.end(), '\n'), c.viaProxy) << passed;
        EXPECT_EQ(CountOf(LogText(), L"[INFO] 代理: 127.0.0.1 在系统的代理例外列表里，直连"), c.viaProxy == 0 ? 1u : 0u);
    }
}

// Reads the values "auto" uses from Wine's registry; restores what was there.
TEST(SystemProxy, ReadsInternetSettings) {
    const wchar_t* keyPath = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, keyPath, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    struct Saved {
        const wchar_t* name;
        bool present;
        DWORD type;
        std::vector<BYTE> data;
    } saved[] = {{L"ProxyEnable", false, 0, {}}, {L"ProxyServer", false, 0, {}}, {L"AutoConfigURL", false, 0, {}}};
    for (Saved& s : saved) {
        DWORD size = 8192;
        s.data.resize(size);
        s.present = RegQueryValueExW(key, s.name, nullptr, &s.type, s.data.data(), &size) == ERROR_SUCCESS;
        s.data.resize(s.present ? size : 0);
    }
    auto setString = [&](const wchar_t* name, const std::wstring& value) {
        RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    };
    DWORD one = 1, zero = 0;
    RegSetValueExW(key, L"ProxyEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof(one));
    setString(L"ProxyServer", L"http=p1:80;https=p2:443  ");
    RegDeleteValueW(key, L"AutoConfigURL");
    std::wstring note;
    std::wstring first = ReadSystemProxy(&note);
    std::wstring firstNote = note;

    RegSetValueExW(key, L"ProxyEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&zero), sizeof(zero));
    setString(L"AutoConfigURL", L"http://wpad/x.pac");
    std::wstring second = ReadSystemProxy(&note);
    std::wstring secondNote = note;

    for (const Saved& s : saved) {
        if (s.present) {
            RegSetValueExW(key, s.name, 0, s.type, s.data.data(), static_cast<DWORD>(s.data.size()));
        } else {
            RegDeleteValueW(key, s.name);
        }
    }
    RegCloseKey(key);

    EXPECT_EQ(first, L"p2:443");
    EXPECT_EQ(firstNote, L"系统代理 p2:443");
    EXPECT_EQ(second, L"");
    EXPECT_EQ(secondNote, L"检测到 PAC (http://wpad/x.pac)，Win7 的 WinHTTP 无法执行 PAC，请显式配 proxy=");
}

}  // namespace
}  // namespace mw
