// The command table and the handlers that belong to the front end itself.
#include "app/dispatch.h"

#include "app/client_commands.h"
#include "base/console.h"
#include "base/paths.h"
#include "base/platform.h"
#include "config/default_ini.h"
#include "config/yaml.h"
#include "diag/check_network.h"
#include "diag/self_test.h"
#include "diag/tls_fix.h"
#include "provision/provision.h"
#include "supervisor/readiness_win.h"
#include "winsvc/hosting.h"
#include "winsvc/install.h"
#include "winsvc/service_control.h"
#include "winsvc/status.h"

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
int TlsFixCommand(const CommandLine&) { return RunTlsFixCommand(); }
int CheckNetCommand(const CommandLine& line) { return CheckNetwork(line.args, line.iniPath); }
int SelfTestCommand(const CommandLine& line) { return RunSelfTest(line.iniPath); }
int ClientCmdCommand(const CommandLine& line) {
    PrintClientCommands(line.args);
    return 0;
}
int IniCommand(const CommandLine& line) { return RunIniCommand(line.iniPath); }
int YamlCommand(const CommandLine& line) { return RunYamlCommand(line.iniPath); }
int DownloadCommand(const CommandLine& line) { return RunProvisionCommand(line.iniPath, true); }
int EnsureCommand(const CommandLine& line) { return RunProvisionCommand(line.iniPath, false); }
int InstallCommand(const CommandLine& line) {
    InstallOptions options;
    std::wstring error;
    if (!ParseInstallOptions(line.args, &options, &error)) {
        WriteErr(error);
        return 1;
    }
    return InstallFlow(line.iniPath, options);
}
int UninstallCommand(const CommandLine& line) { return UninstallFlow(line.iniPath); }
int StartCommand(const CommandLine&) { return RunStartCommand(); }
int StopCommand(const CommandLine&) { return RunStopCommand(); }
int RestartCommand(const CommandLine&) { return RunRestartCommand(); }
int StatusCommand(const CommandLine&) {
    PrintStatus();
    return 0;
}
int HealthCommand(const CommandLine& line) { return RunHealthCommand(line.iniPath); }
int RunCommand(const CommandLine& line) { return HostSupervisor(line.iniPath, false); }
int DaemonCommand(const CommandLine& line) { return HostSupervisor(line.iniPath, true); }
int ServiceCommand(const CommandLine& line) { return RunServiceDispatcher(line.iniPath); }

// In the order in which the forms are tested.
const Command kCommands[] = {
    {{L"help", L"--help", L"-h", L"/?"}, HelpCommand},
    {{L"version", L"--version"}, VersionCommand},
    {{L"tlsfix", L"--tlsfix"}, TlsFixCommand},
    {{L"checknet", L"--checknet"}, CheckNetCommand},
    {{L"ini", L"--ini"}, IniCommand},
    {{L"yaml", L"--yaml"}, YamlCommand},
    {{L"download", L"--download"}, DownloadCommand},
    {{L"ensure", L"--ensure"}, EnsureCommand},
    {{L"install", L"--install"}, InstallCommand},
    {{L"uninstall", L"--uninstall"}, UninstallCommand},
    {{L"start", L"--start"}, StartCommand},
    {{L"stop", L"--stop"}, StopCommand},
    {{L"restart", L"--restart"}, RestartCommand},
    {{L"status", L"--status"}, StatusCommand},
    {{L"health", L"--health"}, HealthCommand},
    {{L"selftest", L"--selftest"}, SelfTestCommand},
    {{L"clientcmd", L"--clientcmd"}, ClientCmdCommand},
    {{L"run", L"--run"}, RunCommand},
    {{L"daemon", L"--daemon"}, DaemonCommand},
    {{L"service", L"--service"}, ServiceCommand},
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
