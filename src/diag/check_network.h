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

// True when a 2xx response arrived and its body was read. `status` is stored before it is judged.
bool HttpGetSmall(const std::wstring& url, const std::wstring& proxy, int timeoutSeconds, std::string* body = nullptr,
                  std::wstring* error = nullptr, uint32_t* status = nullptr);

// "checknet": 0 on a completed request, 1 on failure (with the TLS hint on standard error).
int CheckNetwork(const std::vector<std::wstring>& args);

}  // namespace mw
