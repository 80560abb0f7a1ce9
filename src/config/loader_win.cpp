// Loads the INI file from disk into a settings record, and the one-call preparation most commands use.
#include "config/loader.h"

#include "base/logger.h"
#include "base/paths.h"
#include "config/default_ini.h"

namespace mw {

bool LoadConfig(const std::wstring& iniPath, Config& config, std::wstring* error) {
    // Every later open of the log (each command, each hosting, the supervisor after a reload)
    // falls back to the INI folder when log_dir cannot be made; also when this load fails.
    Logger::Instance().SetFallbackDirectory(DirectoryOf(iniPath));
    std::vector<IniEntry> entries;
    if (!ParseIniFile(iniPath, entries)) {
        if (error) *error = L"读取配置失败: " + iniPath;
        return false;
    }
    if (const IniEntry* bad = FindControlCharacter(entries)) {
        if (error) *error = L"配置 [" + bad->section + L"] " + bad->key + L" 的值含控制字符，拒绝加载: " + iniPath;
        return false;
    }
    ApplyIniEntries(entries, iniPath, config);
    // Whatever prints the token later (the connector's own usage text among them) reaches the log
    // masked: the logger learns every token as soon as it is read.
    Logger::Instance().AddSecret(config.tunnel.token);
    return true;
}

bool PrepareConfig(const std::wstring& iniPath, std::wstring* error) {
    if (!EnsureDefaultIni(iniPath, error)) return false;
    Config& config = CurrentConfig();
    if (!LoadConfig(iniPath, config, error)) return false;
    // When it cannot be made, the logger's open falls back to the INI folder and says so there.
    CreateDirectories(config.supervisor.log_dir);
    return true;
}

}  // namespace mw
