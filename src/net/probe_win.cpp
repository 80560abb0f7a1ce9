// One-byte range request that tells whether a URL serves ranges and how large the resource is.
#include "net/probe.h"

#include "base/text.h"
#include "net/http.h"
#include "net/http_text.h"

namespace mw {

ProbeResult ProbeRange(const std::wstring& url, const std::wstring& proxy, int timeoutSeconds) {
    ProbeResult result;
    HttpRequest request;
    if (!request.Open(url, proxy, timeoutSeconds, &result.error)) return result;
    if (!request.Send(0, 0, true, &result.error)) return result;
    result.status = request.StatusCode();
    std::wstring header;
    request.QueryHeaderText(WINHTTP_QUERY_ETAG, nullptr, &result.etag);
    request.QueryHeaderText(WINHTTP_QUERY_LAST_MODIFIED, nullptr, &result.lastModified);
    if (result.status == 206) {
        if (request.QueryHeaderText(WINHTTP_QUERY_CUSTOM, L"Content-Range", &header)) {
            result.size = ContentRangeTotal(header);
        }
        result.rangeSupported = true;
        result.ok = true;
    } else if (result.status == 200) {
        if (request.QueryHeaderText(WINHTTP_QUERY_CONTENT_LENGTH, nullptr, &header)) {
            result.size = ParseDecimalU64(header);
        }
        result.ok = true;
    } else {
        result.error = HttpStatusText(result.status);
    }
    return result;
}

}  // namespace mw
