// The annotated default mosswarden.ini, written when none exists, and the "ini" command.
#pragma once

#include <string>

namespace mw {

// The 82 template lines, each ending in CR LF (written to disk as UTF-8 with a byte order mark).
const std::wstring& DefaultIniTemplate();

// True when the file already existed (it is then not touched) or has been written.
// On failure `error` gets "无法写入默认配置: " + iniPath.
bool EnsureDefaultIni(const std::wstring& iniPath, std::wstring* error = nullptr);

// The "ini" command: 0, or 2 when the file cannot be written.
int RunIniCommand(const std::wstring& iniPath);

}  // namespace mw
