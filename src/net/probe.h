// One-byte range request that tells whether a URL serves ranges and how large the resource is.
#pragma once

#include <cstdint>
#include <string>

namespace mw {

struct ProbeResult {
    bool ok = false;              // 200 or 206
    uint64_t size = 0;            // 0 when the server did not state it
    bool rangeSupported = false;  // answered with 206
    uint32_t status = 0;          // 0 when no response was obtained
    std::wstring etag;            // the ETag and Last-Modified headers, empty when absent
    std::wstring lastModified;
    std::wstring error;
};

// Never logs; the body is never read.
ProbeResult ProbeRange(const std::wstring& url, const std::wstring& proxy, int timeoutSeconds);

}  // namespace mw
