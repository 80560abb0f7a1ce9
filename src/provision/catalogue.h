// What the program knows about cloudflared releases without the network: arch words, URLs, checksums.
#pragma once

#include <string>

#include "base/platform.h"

namespace mw {

// "amd64" or "386" as the setting says exactly; anything else follows the running Windows.
std::wstring ChooseArch(const std::wstring& setting, const OsVersionInfo& osInfo);
// "amd64" on a 64-bit Windows (also for a 32-bit process under WOW64), else "386".
std::wstring DefaultArch(const OsVersionInfo& osInfo);
// The built-in lower-case hex checksum of that exact release file, or empty.
std::wstring BuiltinSha256(const std::wstring& version, const std::wstring& arch);
// Plain concatenation: no escaping and no validation of either part.
std::wstring OfficialUrl(const std::wstring& version, const std::wstring& arch);

}  // namespace mw
