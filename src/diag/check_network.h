// The network check ("checknet"): one small HTTPS GET through the download engine's request layer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mw {

// Reading stops one byte beyond this, so a longer body shows as longer than the limit.
const uint64_t kCheckNetBodyLimit = 4194304;

// The URL the check fetches: the second argument unless it starts with "--", else the default.
std::wstring CheckNetUrl(const std::vector<std::wstring>& args);

// The status line and the excerpt line of a completed request.
std::vector<std::wstring> CheckNetSuccessLines(uint32_t status, const std::string& body, uint32_t elapsedMs);

// The failure line: "请求失败: " + error, the prefix only once when the error already has it.
std::wstring CheckNetFailureLine(const std::wstring& error);
// The advice after a failure, from the WinHTTP or Win32 code (0: none) and the HTTP status (0: none).
std::vector<std::wstring> CheckNetHints(uint32_t errorCode, uint32_t status, bool viaProxy);
// The line that says which proxy the check uses: the downloads' choice, or none.
std::wstring CheckNetProxyLine(const std::wstring& choiceText);

// True when a 2xx response arrived and its body was read. `status` is stored before it is judged;
// errorCode (optional) gets the WinHTTP or Win32 code of a failed request or read.
bool HttpGetSmall(const std::wstring& url, const std::wstring& proxy, int timeoutSeconds, std::string* body = nullptr,
                  std::wstring* error = nullptr, uint32_t* status = nullptr, uint32_t* errorCode = nullptr);

// "checknet": through the INI's proxy choice (the INI is read, never created); 0 on a completed
// request, 1 on failure (with the advice that fits it on standard error).
int CheckNetwork(const std::vector<std::wstring>& args, const std::wstring& iniPath);

}  // namespace mw
