// The command line: the folded command word, the "--ini" option, and the usage text.
#pragma once

#include <string>
#include <vector>

#include "winsvc/install.h"

namespace mw {

struct CommandLine {
    std::vector<std::wstring> args;  // the arguments after the program name
    std::wstring word;               // args[0] folded to lower case, or "install" without arguments
    std::wstring iniPath;            // "--ini" value, or the default INI path
};

CommandLine ParseCommandLine(const std::vector<std::wstring>& args, const std::wstring& defaultIniPath);

// "--quiet" and "--token-file <path>" after "install" (case-insensitive); false with a text when
// "--token-file" has no path after it.
bool ParseInstallOptions(const std::vector<std::wstring>& args, InstallOptions* options, std::wstring* errorText);

// The 34 lines of the usage text, exit codes included; the last names the default INI path.
std::vector<std::wstring> UsageLines(const std::wstring& defaultIniPath);

}  // namespace mw
