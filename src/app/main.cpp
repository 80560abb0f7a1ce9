// mosswarden.exe: one command per run; the handler's result is the exit code.
#include <vector>

#include "app/command_line.h"
#include "app/dispatch.h"
#include "base/paths.h"
#include "base/win.h"

int wmain(int argc, wchar_t** argv) {
    // No system dialogs for missing media or crashes: the program often runs unattended.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    std::vector<std::wstring> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    return mw::Dispatch(mw::ParseCommandLine(args, mw::DefaultIniPath()));
}
