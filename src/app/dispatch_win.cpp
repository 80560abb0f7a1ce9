// The command table and the handlers that belong to the front end itself.
#include "app/dispatch.h"

#include "base/console.h"
#include "base/paths.h"
#include "base/platform.h"

namespace mw {

namespace {

using Handler = int (*)(const CommandLine& line);

struct Command {
    const wchar_t* forms[4];
    Handler handler;
};

int PrintUsage() {
    for (const std::wstring& text : UsageLines(DefaultIniPath())) WriteOut(text);
    return 0;
}

int HelpCommand(const CommandLine&) { return PrintUsage(); }
int VersionCommand(const CommandLine&) { return RunVersionCommand(); }

// In the order in which the forms are tested.
const Command kCommands[] = {
    {{L"help", L"--help", L"-h", L"/?"}, HelpCommand},
    {{L"version", L"--version"}, VersionCommand},
};

}  // namespace

int Dispatch(const CommandLine& line) {
    for (const Command& command : kCommands) {
        for (const wchar_t* form : command.forms) {
            if (form != nullptr && line.word == form) return command.handler(line);
        }
    }
    WriteErr(L"未知命令: " + line.word);
    PrintUsage();
    return 1;
}

}  // namespace mw
