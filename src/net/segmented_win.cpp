// Per-URL download step: probe, then parallel range segments joined into the partial file, or one connection.
#include <memory>
#include <vector>

#include "base/handles.h"
#include "base/logger.h"
#include "base/paths.h"
#include "base/text.h"
#include "net/body.h"
#include "net/download_plan.h"
#include "net/http.h"
#include "net/http_text.h"
#include "net/probe.h"
#include "net/proxy.h"
#include "net/transfer.h"

namespace mw {

namespace {

bool SegmentFail(Segment& segment, const std::wstring& text) {
    segment.error = text;
    return false;
}

// The identity record is small; anything longer than 64 KiB is not one.
std::wstring ReadSmallText(const std::wstring& path) {
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return std::wstring();
    std::string bytes(65536, '\0');
    DWORD got = 0;
    if (!ReadFile(file.get(), &bytes[0], static_cast<DWORD>(bytes.size()), &got, nullptr)) return std::wstring();
    bytes.resize(got);
    return Utf8ToWide(bytes);
}

// Removes every segment file a set of ranges can leave, then the record that says whose they are.
void DiscardSegments(const std::wstring& partPath) {
    for (int i = 0; i < kMaxSegments; ++i) DeleteFileW(SegmentPath(partPath, i).c_str());
    DeleteFileW(SegmentIdentityPath(partPath).c_str());
}

// A connection cut after it delivered data is taken up again at once from where it broke off, as
// a lossy link cuts connections every few MiB; a try that brought nothing ends the segment.
const int kSegmentRetries = 32;

DWORD WINAPI SegmentThread(LPVOID parameter) {
    Segment* segment = static_cast<Segment*>(parameter);
    const uint64_t length = segment->last - segment->first + 1;
    for (int retry = 0;; ++retry) {
        segment->cut = false;
        if (RunSegment(*segment)) return 0;
        if (!segment->cut || retry >= kSegmentRetries || DownloadCancelled(segment->cancel)) break;
        uint64_t have = FileSizeOrZero(segment->path);
        segment->existing = have < length ? have : length;
        segment->error.clear();
    }
    segment->failed.exchange(1);
    return 0;
}

}  // namespace

bool RunSegment(Segment& segment) {
    uint64_t want = segment.last >= segment.first ? segment.last - segment.first + 1 : 0;
    if (want != 0 && segment.existing >= want) return true;
    const uint64_t from = segment.first + segment.existing;
    HttpRequest request;
    std::wstring error;
    if (!request.Open(segment.url, segment.proxy, BodyReceiveSeconds(segment.timeoutSeconds, segment.stallSeconds),
                      &error)) {
        return SegmentFail(segment, error);
    }
    if (!request.Send(from, segment.last, segment.last >= from, &error)) return SegmentFail(segment, error);
    uint32_t statusCode = request.StatusCode();
    // A 200 carries the resource from byte 0; at any later offset it would corrupt the joined file.
    bool usable = statusCode == 206 || (statusCode == 200 && from == 0);
    if (!usable) return SegmentFail(segment, HttpStatusText(statusCode));
    std::wstring etag;
    if (!segment.etag.empty() && request.QueryHeaderText(WINHTTP_QUERY_ETAG, nullptr, &etag) && etag != segment.etag) {
        segment.changed = true;
        return SegmentFail(segment, RemoteChangedText());
    }

    UniqueHandle file(CreateFileW(segment.path.c_str(), GENERIC_WRITE, 0, nullptr,
                                  segment.existing > 0 ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        DWORD err = GetLastError();
        return SegmentFail(segment, L"创建分段文件失败: " + segment.path + L" (" + Win32ErrorText(err) + L")");
    }
    if (segment.existing > 0) {
        LARGE_INTEGER offset;
        offset.QuadPart = static_cast<LONGLONG>(segment.existing);
        if (!SetFilePointerEx(file.get(), offset, nullptr, FILE_BEGIN) || !SetEndOfFile(file.get())) {
            DWORD err = GetLastError();
            return SegmentFail(segment, WriteFailedText(err));
        }
    }
    BodyCopy copy;
    copy.file = file.get();
    copy.want = want - segment.existing;
    copy.timeoutSeconds = segment.timeoutSeconds;
    copy.stallSeconds = segment.stallSeconds;
    copy.progress = segment.progress;
    copy.cancel = segment.cancel;
    uint64_t got = 0;
    uint32_t readError = 0;
    copy.readError = &readError;
    if (!CopyBody(request, copy, &got, &error)) {
        segment.cut = readError != 0 && got > 0 && error != StalledText(segment.stallSeconds);
        return SegmentFail(segment, error);
    }
    file.reset();
    got += segment.existing;
    if (want != 0 && got != want) {
        return SegmentFail(segment, FormatText(L"分段长度不符：期望 %llu，实际 %llu",
                                               static_cast<unsigned long long>(want),
                                               static_cast<unsigned long long>(got)));
    }
    return true;
}

bool JoinSegments(const std::vector<std::wstring>& paths, const std::wstring& targetPath, std::wstring* errorText) {
    UniqueHandle target(
        CreateFileW(targetPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!target) {
        DWORD err = GetLastError();
        if (errorText) *errorText = L"创建目标文件失败: " + Win32ErrorText(err);
        return false;
    }
    std::vector<char> buffer(262144);
    for (const std::wstring& path : paths) {
        UniqueHandle source(
            CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        if (!source) {
            if (errorText) *errorText = L"打开分段失败: " + path;
            return false;
        }
        for (;;) {
            DWORD got = 0;
            if (!ReadFile(source.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr) || got == 0) {
                break;
            }
            if (!WriteAllBytes(target.get(), buffer.data(), got, nullptr)) {
                DWORD err = GetLastError();
                if (errorText) *errorText = L"拼接写入失败: " + Win32ErrorText(err);
                return false;
            }
        }
    }
    return true;
}

bool DownloadFromUrl(const std::wstring& url, const DownloadOptions& given, std::wstring* errorText,
                     uint32_t* status) {
    DownloadOptions options = given;
    if (!options.proxy.empty() && HostBypassesProxy(UrlHost(url), options.proxyBypass)) {
        Logger::Instance().Write(L"INFO", ProxyBypassedText(UrlHost(url)));
        options.proxy.clear();
    }
    const std::wstring partPath = options.target + L".part";
    ProbeResult probe = ProbeRange(url, options.proxy, options.timeoutSeconds);
    if (status) *status = probe.status;
    if (!probe.ok) {
        if (errorText) *errorText = probe.error;
        return false;
    }
    Logger& log = Logger::Instance();
    if (probe.size != 0) {
        log.Write(L"INFO", FormatText(L"远端大小 %.1f MB，%s", static_cast<double>(probe.size) / 1048576.0,
                                      probe.rangeSupported ? L"支持断点/分段" : L"不支持 Range（单连接）"));
    }
    if (probe.size > kMaxDownloadSize) {
        if (errorText) *errorText = SizeAbnormalText();
        return false;
    }
    ProgressState progress;
    progress.total = probe.size;
    progress.start = GetTickCount64();

    // Collected locally so that "still empty" below refers to this attempt, not the caller's text.
    std::wstring error;
    bool ok = false;
    int n = SegmentCount(probe.size, probe.rangeSupported, options.chunks);
    if (n <= 1) {
        DiscardSegments(partPath);
        ok = DownloadSingle(url, options.proxy, partPath, probe.size, probe.rangeSupported, options.timeoutSeconds,
                            options.stallSeconds, options.progressInterval, &progress, &error, options.cancel);
    } else {
        SegmentIdentity identity;
        identity.url = url;
        identity.size = probe.size;
        identity.etag = probe.etag;
        identity.lastModified = probe.lastModified;
        identity.segments = n;
        SegmentIdentity kept;
        const bool resume = ParseSegmentIdentity(ReadSmallText(SegmentIdentityPath(partPath)), &kept) &&
                            SameRemoteFile(kept, identity);
        if (!resume) {
            DiscardSegments(partPath);
            WriteTextFile(SegmentIdentityPath(partPath), SegmentIdentityText(identity), false);
        }
        std::vector<ByteRange> ranges = SegmentRanges(probe.size, n);
        std::vector<std::unique_ptr<Segment>> segments;
        std::vector<std::wstring> paths;
        for (int i = 0; i < n; ++i) {
            std::unique_ptr<Segment> segment(new Segment);
            segment->url = url;
            segment->proxy = options.proxy;
            segment->path = SegmentPath(partPath, i);
            segment->first = ranges[static_cast<size_t>(i)].first;
            segment->last = ranges[static_cast<size_t>(i)].last;
            if (resume) {
                uint64_t length = segment->last - segment->first + 1;
                uint64_t have = FileSizeOrZero(segment->path);
                segment->existing = have < length ? have : length;
            }
            segment->etag = probe.etag;
            segment->timeoutSeconds = options.timeoutSeconds;
            segment->stallSeconds = options.stallSeconds;
            segment->progress = &progress;
            segment->cancel = options.cancel;
            paths.push_back(segment->path);
            segments.push_back(std::move(segment));
        }
        uint64_t existing = 0;
        for (const std::unique_ptr<Segment>& segment : segments) existing += segment->existing;
        if (existing > 0) {
            log.Write(L"INFO", FormatText(L"续传：已有 %llu 字节", static_cast<unsigned long long>(existing)));
            progress.done.fetch_add(existing);
            progress.resumed = existing;
        }
        std::vector<UniqueHandle> threads(static_cast<size_t>(n));
        std::vector<DWORD> threadIds(static_cast<size_t>(n), 0);
        for (size_t i = 0; i < segments.size(); ++i) {
            threads[i].reset(CreateThread(nullptr, 0, SegmentThread, segments[i].get(), 0, &threadIds[i]));
        }

        const uint64_t interval =
            options.progressInterval > 0 ? static_cast<uint64_t>(options.progressInterval) * 1000u : 3000u;
        uint64_t lastReport = GetTickCount64();
        for (;;) {
            std::vector<HANDLE> running;
            for (const UniqueHandle& thread : threads) {
                if (thread && WaitForSingleObject(thread.get(), 0) == WAIT_TIMEOUT) running.push_back(thread.get());
            }
            if (running.empty()) break;
            uint64_t now = GetTickCount64();
            if (now - lastReport >= interval) {
                progress.Report(L"进度");
                lastReport = now;
            }
            // Returns as soon as the last segment ends instead of idling out a fixed sleep.
            if (WaitForMultipleObjects(static_cast<DWORD>(running.size()), running.data(), TRUE, 400) == WAIT_FAILED) {
                Sleep(400);
            }
        }

        bool anyFailed = false;
        for (size_t i = 0; i < segments.size(); ++i) {
            if (threads[i]) {
                WaitForSingleObject(threads[i].get(), 5000);
                threads[i].reset();
            }
            if (segments[i]->failed.load() != 0) {
                anyFailed = true;
                if (error.empty()) error = segments[i]->error;
            }
        }
        bool changed = false;
        for (const std::unique_ptr<Segment>& segment : segments) changed = changed || segment->changed;
        if (anyFailed) {
            if (error.empty()) error = L"分段下载失败";
            // Kept for the next attempt at the same remote file, unless the server has another one now.
            if (changed) DiscardSegments(partPath);
        } else if (JoinSegments(paths, partPath, &error)) {
            uint64_t actual = FileSizeOrZero(partPath);
            if (actual == probe.size) {
                ok = true;
            } else {
                error = FormatText(L"拼接后大小不符：期望 %llu，实际 %llu", static_cast<unsigned long long>(probe.size),
                                   static_cast<unsigned long long>(actual));
            }
        }
        if (!anyFailed) DiscardSegments(partPath);
    }
    progress.Report(ok ? L"完成" : L"中止");
    if (!ok && errorText) *errorText = error.empty() ? std::wstring(L"分段下载失败") : error;
    return ok;
}

}  // namespace mw
