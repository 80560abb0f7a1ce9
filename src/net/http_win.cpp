// One synchronous WinHTTP GET: open with proxy and time-outs, send with an optional range, read the body.
#include "net/http.h"

#include <vector>

#include "base/text.h"
#include "net/http_text.h"

namespace mw {

namespace {

void SetError(std::wstring* errorText, const std::wstring& text) {
    if (errorText) *errorText = text;
}

}  // namespace

CrackedUrl CrackUrl(const std::wstring& url) {
    CrackedUrl result;
    std::vector<wchar_t> host(1024, L'\0');
    std::vector<wchar_t> path(8192, L'\0');
    std::vector<wchar_t> extra(4096, L'\0');
    URL_COMPONENTS parts = {};
    parts.dwStructSize = sizeof(parts);
    parts.lpszHostName = host.data();
    parts.dwHostNameLength = static_cast<DWORD>(host.size());
    parts.lpszUrlPath = path.data();
    parts.dwUrlPathLength = static_cast<DWORD>(path.size());
    parts.lpszExtraInfo = extra.data();
    parts.dwExtraInfoLength = static_cast<DWORD>(extra.size());
    if (url.empty() || !WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts)) return result;
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) return result;
    result.host.assign(host.data(), parts.dwHostNameLength);
    result.path.assign(path.data(), parts.dwUrlPathLength);
    if (parts.dwExtraInfoLength > 0) result.path.append(extra.data(), parts.dwExtraInfoLength);
    result.port = parts.nPort;
    result.secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    result.valid = !result.host.empty();
    return result;
}

bool HttpRequest::Open(const std::wstring& url, const std::wstring& proxy, int timeoutSeconds,
                       std::wstring* errorText) {
    CrackedUrl cracked = CrackUrl(url);
    if (!cracked.valid) {
        SetError(errorText, L"URL 解析失败: " + url);
        return false;
    }
    std::wstring proxyName = ProxyNameForWinHttp(proxy);
    if (proxyName.empty()) {
        session_.reset(WinHttpOpen(kHttpUserAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                   WINHTTP_NO_PROXY_BYPASS, 0));
    } else {
        session_.reset(WinHttpOpen(kHttpUserAgent, WINHTTP_ACCESS_TYPE_NAMED_PROXY, proxyName.c_str(),
                                   WINHTTP_NO_PROXY_BYPASS, 0));
    }
    if (!session_) {
        DWORD err = GetLastError();
        errorCode_ = err;
        SetError(errorText, L"WinHttpOpen 失败: " + NetErrorText(err));
        return false;
    }
    WinHttpSetTimeouts(session_.get(), 20000, 30000, 60000, static_cast<int>(ReceiveTimeoutMs(timeoutSeconds)));
    connection_.reset(WinHttpConnect(session_.get(), cracked.host.c_str(), cracked.port, 0));
    if (!connection_) {
        DWORD err = GetLastError();
        errorCode_ = err;
        SetError(errorText, L"WinHttpConnect 失败: " + NetErrorText(err));
        return false;
    }
    request_.reset(WinHttpOpenRequest(connection_.get(), L"GET", cracked.path.c_str(), nullptr,
                                      WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                      OpenRequestFlags(cracked.secure)));
    if (!request_) {
        DWORD err = GetLastError();
        errorCode_ = err;
        SetError(errorText, L"WinHttpOpenRequest 失败: " + NetErrorText(err));
        return false;
    }
    DWORD policy = WINHTTP_OPTION_REDIRECT_POLICY_ALWAYS;
    WinHttpSetOption(request_.get(), WINHTTP_OPTION_REDIRECT_POLICY, &policy, sizeof(policy));
    return true;
}

bool HttpRequest::Send(uint64_t rangeFirst, uint64_t rangeLast, bool withRange, std::wstring* errorText) {
    std::wstring headers = RequestHeaderText(rangeFirst, rangeLast, withRange);
    BOOL ok = request_ && WinHttpSendRequest(request_.get(), headers.c_str(), static_cast<DWORD>(-1L),
                                             WINHTTP_NO_REQUEST_DATA, 0, 0, 0);
    if (ok) ok = WinHttpReceiveResponse(request_.get(), nullptr);
    if (!ok) {
        DWORD err = request_ ? GetLastError() : static_cast<DWORD>(ERROR_INVALID_HANDLE);
        errorCode_ = err;
        SetError(errorText, FormatText(L"请求失败: %s", NetErrorText(err).c_str()));
        return false;
    }
    return true;
}

uint32_t HttpRequest::StatusCode() {
    DWORD value = 0;
    DWORD length = sizeof(value);
    if (request_) {
        WinHttpQueryHeaders(request_.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                            WINHTTP_HEADER_NAME_BY_INDEX, &value, &length, WINHTTP_NO_HEADER_INDEX);
    }
    return value;
}

bool HttpRequest::QueryHeaderText(uint32_t infoLevel, const wchar_t* name, std::wstring* value) {
    if (!request_) return false;
    wchar_t buffer[512] = {};
    DWORD length = sizeof(buffer);
    if (!WinHttpQueryHeaders(request_.get(), infoLevel, name ? name : WINHTTP_HEADER_NAME_BY_INDEX, buffer,
                             &length, WINHTTP_NO_HEADER_INDEX)) {
        return false;
    }
    size_t count = length / sizeof(wchar_t);
    if (count > 512) count = 512;
    std::wstring text(buffer, count);
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    if (value) *value = text;
    return true;
}

bool HttpRequest::QueryAvailable(uint32_t* count) {
    DWORD available = 0;
    bool ok = request_ && WinHttpQueryDataAvailable(request_.get(), &available);
    if (count) *count = ok ? available : 0;
    return ok;
}

bool HttpRequest::Read(void* buffer, uint32_t maxBytes, uint32_t* bytesRead) {
    DWORD got = 0;
    bool ok = request_ && WinHttpReadData(request_.get(), buffer, maxBytes, &got);
    if (bytesRead) *bytesRead = ok ? got : 0;
    return ok;
}

void HttpRequest::Close() {
    request_.reset();
    connection_.reset();
    session_.reset();
}

}  // namespace mw
