// Generates the connector's config.yml from the settings, and the "yaml" command.
#pragma once

#include <string>

#include "config/settings.h"

namespace mw {

// `text` as a YAML single-quoted scalar: apostrophes doubled, nothing else escaped.
std::wstring YamlQuote(const std::wstring& text);
// The complete file content, CR LF line ends. Cannot fail.
std::wstring BuildConfigYml(const Config& config);
// Where WriteConfigYml writes: `config_file`, or config.yml in `ini_dir` when that is empty.
std::wstring ConfigYmlPath(const Config& config);

// Builds and writes the file (UTF-8, no byte order mark). `writtenPath` is set only on success;
// on failure `error` gets "写入 config.yml 失败: " + the target path.
bool WriteConfigYml(const Config& config, std::wstring* writtenPath = nullptr, std::wstring* error = nullptr);

// The "yaml" command: 0; 2 when the settings cannot be prepared; 3 when the file cannot be written.
int RunYamlCommand(const std::wstring& iniPath);

}  // namespace mw
