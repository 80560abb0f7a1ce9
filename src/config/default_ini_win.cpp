// Writes the default INI file when none exists, and the "ini" command.
#include "config/default_ini.h"

#include "base/console.h"
#include "base/paths.h"

namespace mw {

bool EnsureDefaultIni(const std::wstring& iniPath, std::wstring* error) {
    // An existing file, even an empty or broken one, is the administrator's and stays untouched.
    if (FileExists(iniPath)) return true;
    if (iniPath.find_last_of(L"\\/") != std::wstring::npos) CreateDirectories(DirectoryOf(iniPath));
    if (!WriteTextFile(iniPath, DefaultIniTemplate(), true)) {
        if (error) *error = L"无法写入默认配置: " + iniPath;
        return false;
    }
    return true;
}

int RunIniCommand(const std::wstring& iniPath) {
    const bool existed = FileExists(iniPath);
    std::wstring error;
    if (!EnsureDefaultIni(iniPath, &error)) {
        WriteErr(error);
        return 2;
    }
    WriteOut((existed ? L"配置已存在: " : L"已写入默认配置: ") + iniPath);
    return 0;
}

}  // namespace mw
