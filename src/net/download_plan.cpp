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

std::wstring SegmentIdentityPath(const std::wstring& partPath) { return partPath + L".seg"; }

std::wstring SegmentIdentityText(const SegmentIdentity& identity) {
    return L"url=" + identity.url + L"\r\n" +
           FormatText(L"size=%llu\r\n", static_cast<unsigned long long>(identity.size)) + L"etag=" + identity.etag +
           L"\r\n" + L"last_modified=" + identity.lastModified + L"\r\n" +
           FormatText(L"segments=%d\r\n", identity.segments);
}

bool ParseSegmentIdentity(const std::wstring& text, SegmentIdentity* identity) {
    SegmentIdentity parsed;
    int seen = 0;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos) end = text.size();
        std::wstring line = text.substr(start, end - start);
        start = end + 1;
        size_t eq = line.find(L'=');
        if (eq == std::wstring::npos) continue;
        std::wstring key = line.substr(0, eq);
        std::wstring value = TrimText(line.substr(eq + 1));
        if (key == L"url") {
            parsed.url = value;
            seen |= 1;
        } else if (key == L"size") {
            parsed.size = 0;
            for (wchar_t c : value) {
                if (c < L'0' || c > L'9' || parsed.size > 1844674407370955160ull) return false;
                parsed.size = parsed.size * 10 + static_cast<uint64_t>(c - L'0');
            }
            seen |= 2;
        } else if (key == L"etag") {
            parsed.etag = value;
            seen |= 4;
        } else if (key == L"last_modified") {
            parsed.lastModified = value;
            seen |= 8;
        } else if (key == L"segments") {
            parsed.segments = 0;
            for (wchar_t c : value) {
                if (c < L'0' || c > L'9' || parsed.segments > 1000) return false;
                parsed.segments = parsed.segments * 10 + (c - L'0');
            }
            seen |= 16;
        }
    }
    if (seen != 31 || parsed.url.empty() || parsed.size == 0 || parsed.segments < 2) return false;
    if (identity) *identity = parsed;
    return true;
}

bool SameRemoteFile(const SegmentIdentity& kept, const SegmentIdentity& now) {
    return kept.url == now.url && kept.size == now.size && kept.etag == now.etag &&
           kept.lastModified == now.lastModified && kept.segments == now.segments;
}

std::vector<std::wstring> BuildUrlList(const std::wstring& primaryUrl, const std::vector<std::wstring>& mirrors) {
    std::vector<std::wstring> urls;
    if (!TrimText(primaryUrl).empty()) urls.push_back(primaryUrl);
    for (const std::wstring& mirror : mirrors) {
        if (!TrimText(mirror).empty()) urls.push_back(mirror);
    }
    return urls;
}

}  // namespace mw
