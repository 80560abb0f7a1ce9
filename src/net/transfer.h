// The per-URL transfer steps: probe, then a segmented or a single-connection download into target.part.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "net/download.h"
#include "net/progress.h"

namespace mw {

// True when partPath holds the complete resource. Resumes an existing partial file with a range
// request when the server serves ranges and the size is known; a 200 answer starts over.
bool DownloadSingle(const std::wstring& url, const std::wstring& proxy, const std::wstring& partPath,
                    uint64_t expectedSize, bool rangeSupported, int timeoutSeconds, int stallSeconds,
                    int progressInterval, ProgressState* progress, std::wstring* errorText = nullptr,
                    void* cancel = nullptr);

// One byte range of a segmented download; written only by its worker thread while it runs.
struct Segment {
    std::wstring url;
    std::wstring proxy;
    std::wstring path;
    uint64_t first = 0;
    uint64_t last = 0;
    uint64_t existing = 0;  // bytes of the range already in the segment file from an earlier attempt
    std::wstring etag;      // the probe's ETag; a segment answered with another one fails
    int timeoutSeconds = 0;
    int stallSeconds = 0;
    ProgressState* progress = nullptr;
    void* cancel = nullptr;  // DownloadOptions::cancel
    std::atomic<uint32_t> failed{0};
    bool changed = false;  // the server answered for another file than the one probed
    bool cut = false;      // the last try ended with a broken connection after at least one byte
    std::wstring error;
};

// Fetches the missing part of the segment's range into its file (nothing when it is complete);
// a 200 answer is usable only for a request starting at byte 0.
bool RunSegment(Segment& segment);
// Copies the segment files in order into targetPath.
bool JoinSegments(const std::vector<std::wstring>& paths, const std::wstring& targetPath,
                  std::wstring* errorText = nullptr);
// Probe and transfer from one URL into options.target + ".part". status gets the probe's status
// whenever the probe returned. Segment files of a failed segmented attempt are kept with their
// identity record, and continued by the next attempt for the same remote file.
bool DownloadFromUrl(const std::wstring& url, const DownloadOptions& options, std::wstring* errorText = nullptr,
                     uint32_t* status = nullptr);

}  // namespace mw
