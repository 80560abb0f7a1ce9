// Pure planning of a download: single or segmented, the byte ranges, segment file names, the URL order.
#include "net/download_plan.h"

#include "base/text.h"

namespace mw {

int SegmentCount(uint64_t size, bool rangeSupported, int chunks) {
    int n = chunks < 1 ? 1 : (chunks > kMaxSegments ? kMaxSegments : chunks);
    if (size < kSegmentedMinimum) n = 1;
    if (!rangeSupported) n = 1;
    return n;
}

std::vector<ByteRange> SegmentRanges(uint64_t size, int n) {
    std::vector<ByteRange> ranges;
    if (n < 1 || size < static_cast<uint64_t>(n)) return ranges;
    uint64_t len = size / static_cast<uint64_t>(n);
    for (int i = 0; i < n; ++i) {
        ByteRange range;
        range.first = len * static_cast<uint64_t>(i);
        range.last = (i == n - 1) ? size - 1 : len * static_cast<uint64_t>(i + 1) - 1;
        ranges.push_back(range);
    }
    return ranges;
}

std::wstring SegmentPath(const std::wstring& partPath, int index) { return partPath + FormatText(L".%d", index); }

std::vector<std::wstring> BuildUrlList(const std::wstring& primaryUrl, const std::vector<std::wstring>& mirrors) {
    std::vector<std::wstring> urls;
    if (!TrimText(primaryUrl).empty()) urls.push_back(primaryUrl);
    for (const std::wstring& mirror : mirrors) {
        if (!TrimText(mirror).empty()) urls.push_back(mirror);
    }
    return urls;
}

}  // namespace mw
