// Pure planning of a download: single or segmented, the byte ranges, segment file names, the URL order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mw {

constexpr int kMaxSegments = 16;
constexpr uint64_t kSegmentedMinimum = 4194304;  // files below 4 MiB take one connection
// The connector is about 30 MB; anything stated or sent beyond this is not it and would only fill the disk.
constexpr uint64_t kMaxDownloadSize = 268435456;

struct ByteRange {
    uint64_t first = 0;
    uint64_t last = 0;  // inclusive
};

// Number of parallel segments for a probed resource; 1 means the single-connection path.
// An unknown size (0) cannot be split, so it also takes one connection.
int SegmentCount(uint64_t size, bool rangeSupported, int chunks);
// n ranges of size / n bytes each; the last one also takes the remainder. Needs size >= n >= 1.
std::vector<ByteRange> SegmentRanges(uint64_t size, int n);
// partPath + "." + index.
std::wstring SegmentPath(const std::wstring& partPath, int index);
// What identifies the remote file that a set of kept segment files belongs to.
struct SegmentIdentity {
    std::wstring url;
    uint64_t size = 0;
    std::wstring etag;          // empty when the server sent none
    std::wstring lastModified;  // empty when the server sent none
    int segments = 0;           // the ranges depend on the count
};

// partPath + ".seg": the identity record kept beside the segment files.
std::wstring SegmentIdentityPath(const std::wstring& partPath);
// One "key=value" line (CR LF) per field.
std::wstring SegmentIdentityText(const SegmentIdentity& identity);
// True when text is a complete record; the fields are trimmed.
bool ParseSegmentIdentity(const std::wstring& text, SegmentIdentity* identity);
// Kept segments may be continued only when every field is the same.
bool SameRemoteFile(const SegmentIdentity& kept, const SegmentIdentity& now);

// The primary URL first, then every non-empty mirror in order.
std::vector<std::wstring> BuildUrlList(const std::wstring& primaryUrl, const std::vector<std::wstring>& mirrors);

}  // namespace mw
