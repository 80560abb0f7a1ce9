// Turns the INI file into the settings record, with defaults, clamps and resolved paths.
#pragma once

#include <string>
#include <vector>

#include "config/ini_reader.h"
#include "config/settings.h"

namespace mw {

// `value` unchanged when empty or absolute, else joined to `baseDir`.
std::wstring ResolvePath(const std::wstring& baseDir, const std::wstring& value);

// Pure: fills `config` from parsed entries as if they had been read from `iniPath`.
// Values already in `config` are the defaults of most keys.
void ApplyIniEntries(const std::vector<IniEntry>& entries, const std::wstring& iniPath, Config& config);

// Pure: the first entry whose value holds a C0 control character other than TAB, or null. Such a
// value would split log lines and make config.yml invalid YAML.
const IniEntry* FindControlCharacter(const std::vector<IniEntry>& entries);

// On failure `config` is left exactly as it was and `error` gets "读取配置失败: " + iniPath, or
// the section and key of a value with a control character.
bool LoadConfig(const std::wstring& iniPath, Config& config, std::wstring* error = nullptr);

// Writes the default INI when missing, loads it into CurrentConfig() and ensures the log directory
// (falling back to logging in the INI directory with a warning). False only when the INI file
// cannot be written or read.
bool PrepareConfig(const std::wstring& iniPath, std::wstring* error = nullptr);

}  // namespace mw
