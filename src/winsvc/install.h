// Installing and uninstalling: the service as administrator, the per-user logon autostart otherwise.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/file_access.h"
#include "config/settings.h"

namespace mw {

// HKEY_CURRENT_USER key and value name of the logon autostart.
extern const wchar_t kRunKeyPath[];
extern const wchar_t kRunValueName[];

// "\"<exePath>\" --daemon", then " --ini \"<iniPath>\"" when an INI path is given: what the logon
// autostart runs.
std::wstring AutostartCommandLine(const std::wstring& exePath, const std::wstring& iniPath = std::wstring());
// The INI path a registered command line must carry: empty for the default beside the executable
// (compared without regard to ASCII case and slash direction), else the full path.
std::wstring IniArgument(const std::wstring& iniFullPath, const std::wstring& defaultIniPath);

// How the install command was asked to run.
struct InstallOptions {
    bool quiet = false;      // "--quiet": no progress or notices, only errors on standard error
    std::wstring tokenFile;  // "--token-file <path>": the token is read from there into the INI
};
// Pure: `text` with `key` of `section` set to `value`: the first such line (the one the reader takes) replaced, else
// one added after the section's first header, else the section appended. Line ends are kept.
std::wstring SetIniValue(const std::wstring& text, const std::wstring& section, const std::wstring& key,
                         const std::wstring& value);
// The first non-blank line of a token file, trimmed; false when there is none.
bool TokenFromFileText(const std::wstring& text, std::wstring* token);
// What the install prints about the configured tunnel; never contains the token itself.
std::vector<std::wstring> InstallSummaryLines(const Config& config, const std::wstring& iniPath);

// What uninstall leaves in place; an empty path is a file that is not there.
struct LeftInPlace {
    std::wstring ini;
    bool iniHasToken = false;
    std::wstring connector;
    std::wstring configYml;
    std::wstring logDir;
};
// Nothing when every path is empty, else a heading and one line per file left.
std::vector<std::wstring> LeftInPlaceLines(const LeftInPlace& left);

// Writes (enable) or removes the Run value for the running executable; removing a missing value succeeds.
bool SetLogonAutostart(bool enable);
bool SetLogonAutostartFor(const std::wstring& programPath, bool enable, const std::wstring& iniPath = std::wstring());

// Starts "<programPath> --daemon" detached from this process: no output pipe, no kill-on-close job,
// no inherited handles, so it keeps running after the installer has exited.
bool LaunchDetachedDaemon(const std::wstring& programPath, uint32_t* processId, std::wstring* errorText = nullptr,
                          const std::wstring& iniPath = std::wstring());

// The install command's core with the elevation and the program to register given as values.
// Exit codes: 0 done, 2 configuration, 3 provisioning, 4 Run value, 5 service removal or creation.
// A token file that cannot be read or holds no token is a configuration failure (2). Elevated, the
// program folder and the INI get their descriptors through `setSecurity` (a failure is reported).
int InstallFlowAs(const std::wstring& iniPath, bool elevated, const std::wstring& programPath,
                  const InstallOptions& options = InstallOptions(),
                  const SecuritySetter& setSecurity = SetSecurityFromSddl);
// 0 done (also without administrator rights), 5 when deleting the service failed. `iniPath` names the
// files it reports as left in place.
int UninstallFlowAs(bool elevated, const std::wstring& iniPath);

// The commands: they ask IsElevated and register the running executable.
int InstallFlow(const std::wstring& iniPath, const InstallOptions& options = InstallOptions());
// `iniPath` (the default unless "--ini" was given) names the daemons to end and the files left.
int UninstallFlow(const std::wstring& iniPath);

}  // namespace mw
