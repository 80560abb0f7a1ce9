// Writes config.yml beside the INI file, and the "yaml" command.
#include "config/yaml.h"

#include "base/console.h"
#include "base/paths.h"
#include "config/loader.h"

namespace mw {

bool WriteConfigYml(const Config& config, std::wstring* writtenPath, std::wstring* error) {
    const std::wstring target = ConfigYmlPath(config);
    // Only the INI directory is created; a config_file elsewhere must have its directory already.
    CreateDirectories(config.ini_dir);
    if (!WriteTextFile(target, BuildConfigYml(config), false)) {
        if (error) *error = L"写入 config.yml 失败: " + target;
        return false;
    }
    if (writtenPath) *writtenPath = target;
    return true;
}

int RunYamlCommand(const std::wstring& iniPath) {
    std::wstring error;
    if (!PrepareConfig(iniPath, &error)) {
        WriteErr(error);
        return 2;
    }
    const Config& config = CurrentConfig();
    std::wstring written;
    if (!WriteConfigYml(config, &written, &error)) {
        WriteErr(error);
        return 3;
    }
    WriteOut(L"已生成 " + written);
    WriteOut(BuildConfigYml(config));
    return 0;
}

}  // namespace mw
