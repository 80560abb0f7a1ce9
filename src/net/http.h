// One synchronous WinHTTP GET: open with proxy and time-outs, send with an optional range, read the body.
#pragma once

#include <cstdint>
#include <string>

#include "base/handles.h"

namespace mw {

struct CrackedUrl {
    std::wstring host;
    std::wstring path;  // URL path followed by the query and fragment
    uint16_t port = 0;
    bool secure = false;
    bool valid = false;
};

// http and https only; a host, path or query longer than WinHTTP's buffers fails.
CrackedUrl CrackUrl(const std::wstring& url);

// Owns the session, connection and request of one transfer; never shared between threads.
class HttpRequest {
public:
    HttpRequest() = default;
    ~HttpRequest() { Close(); }
    HttpRequest(const HttpRequest&) = delete;
    HttpRequest& operator=(const HttpRequest&) = delete;

    // An empty or blank proxy means WinHTTP's default access type; "scheme://" is stripped.
    // A receive time-out of 0 or less means 600 seconds. A failed Open may leave handles open
    // until Close.
    bool Open(const std::wstring& url, const std::wstring& proxy, int timeoutSeconds,
              std::wstring* errorText = nullptr);
    // Sends "Range: bytes=first-last" (both inclusive) when withRange; waits for the headers.
    bool Send(uint64_t rangeFirst, uint64_t rangeLast, bool withRange, std::wstring* errorText = nullptr);
    // The Win32 or WinHTTP code of the last failed Open or Send; 0 when none failed.
    uint32_t ErrorCode() const { return errorCode_; }
    // 0 when the status cannot be queried.
    uint32_t StatusCode();
    // infoLevel is a WINHTTP_QUERY_* value; name is used with WINHTTP_QUERY_CUSTOM, else null.
    // False when the header is absent or longer than 511 characters.
    bool QueryHeaderText(uint32_t infoLevel, const wchar_t* name, std::wstring* value);
    bool QueryAvailable(uint32_t* count);
    bool Read(void* buffer, uint32_t maxBytes, uint32_t* bytesRead);
    // Closes request, connection and session, in that order.
    void Close();

private:
    UniqueInternet session_;
    UniqueInternet connection_;
    UniqueInternet request_;
    uint32_t errorCode_ = 0;
};

}  // namespace mw
