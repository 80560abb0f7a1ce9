// Reads a hand-edited INI file in any common encoding into section/key/value entries.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mw {

struct IniEntry {
    std::wstring section;
    std::wstring key;
    std::wstring value;
};

// Larger files are refused; exactly this many bytes are accepted.
constexpr uint64_t kIniMaxFileBytes = 8388608;

// Pure: bytes to text (UTF-8 with or without mark, UTF-16 LE/BE with mark, else the ANSI code page).
std::wstring DecodeIniBytes(const std::string& bytes);
// Pure: text to entries by the line grammar; `entries` is replaced.
void ParseIniText(const std::wstring& text, std::vector<IniEntry>& entries);

// Whole file as text; `ok` is true only when it was read (missing, locked or above 8 MiB: false).
std::wstring ReadTextFile(const std::wstring& path, bool& ok);
// False, with no entries, when the file cannot be read. Produces no message.
bool ParseIniFile(const std::wstring& path, std::vector<IniEntry>& entries);

// Lookups match section and key without regard to ASCII case; the first match wins.
std::wstring IniGetString(const std::vector<IniEntry>& entries, const std::wstring& section,
                          const std::wstring& key, const std::wstring& defaultValue);
int32_t IniGetInt(const std::vector<IniEntry>& entries, const std::wstring& section, const std::wstring& key,
                  int32_t defaultValue);
bool IniGetBool(const std::vector<IniEntry>& entries, const std::wstring& section, const std::wstring& key,
                bool defaultValue);

}  // namespace mw
