// Pure pieces of the HTTP layer: proxy name, time-out, request headers and response header numbers.
#pragma once

#include <cstdint>
#include <string>

namespace mw {

extern const wchar_t kHttpUserAgent[];

// The proxy name handed to WinHTTP: trimmed, and only the part after the first "://" when present.
std::wstring ProxyNameForWinHttp(const std::wstring& proxy);
// Receive time-out in milliseconds; 0 or less means 600 seconds.
uint32_t ReceiveTimeoutMs(int timeoutSeconds);
// The receive time-out to open a body's request with, in seconds: min(timeout, stall) when the
// stall check is on. WinHTTP (and Wine's) takes it from the request's start, not from a later change.
int BodyReceiveSeconds(int timeoutSeconds, int stallSeconds);
// WINHTTP_FLAG_REFRESH, plus WINHTTP_FLAG_SECURE for https.
uint32_t OpenRequestFlags(bool secure);
// The fixed request headers, followed by the range line when withRange.
std::wstring RequestHeaderText(uint64_t rangeFirst, uint64_t rangeLast, bool withRange);
// Leading white space skipped, digits up to the first other character; no digits give 0,
// a value beyond 64 bits gives the largest 64-bit value.
uint64_t ParseDecimalU64(const std::wstring& text);
// The total of a Content-Range value ("bytes 0-0/4096"); 0 for "*" or a value without "/".
uint64_t ContentRangeTotal(const std::wstring& contentRange);

// The short Chinese meaning of a common WinHTTP error code, or null for any other code.
const wchar_t* WinHttpErrorMeaning(uint32_t code);
// True for the TLS and secure-channel codes that the TLS 1.2 fix (tlsfix) can cure.
bool IsTlsErrorCode(uint32_t code);
// "%u: meaning" for a code of the table; else "%u: " + moduleText when that is not blank; else "%u".
std::wstring ComposeWinHttpErrorText(uint32_t code, const std::wstring& moduleText);
// The rendering of an error of a transfer: WinHTTP codes (12000-12999) as above, with winhttp.dll's
// own message table for the codes outside the table; every other code as Win32ErrorText.
std::wstring NetErrorText(uint32_t code);

// The transfer failures' texts, shared by the probe, both download paths and the network check.
std::wstring HttpStatusText(uint32_t status);        // "HTTP 状态码 404"
std::wstring ReadFailedText(uint32_t error);         // "读取失败: " + the error's description
std::wstring WriteFailedText(uint32_t error);        // "写入失败: " + the error's description
std::wstring StalledText(int32_t stallSeconds);      // "60 秒没有任何数据，判定卡死"
std::wstring CancelledText();                        // "收到停止信号，下载中止"
std::wstring SizeAbnormalText();                     // "远端大小异常"
std::wstring RemoteChangedText();                    // "远端文件已变化（ETag 不同），已丢弃分段"

}  // namespace mw
