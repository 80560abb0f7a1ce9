// Operations on the one Windows service this program installs, and the start/stop/restart commands.
#pragma once

#include <cstdint>
#include <string>

namespace mw {

extern const wchar_t kServiceName[];         // "mosswarden"
extern const wchar_t kServiceDisplayName[];  // "mosswarden (Cloudflare Tunnel 守护)"
extern const wchar_t kServiceDescription[];

// "\"<exePath>\" --service", then " --ini \"<iniPath>\"" when an INI path is given: what the service
// control manager runs.
std::wstring ServiceCommandLine(const std::wstring& exePath, const std::wstring& iniPath = std::wstring());
// Which of the settings applied after CreateService took effect.
struct ServiceSettingsResult {
    bool description = false;
    bool delayedStart = false;
    bool failureActions = false;
};
// "服务已注册: mosswarden (自动启动 + 延迟启动 + 崩溃重启)" naming only what took effect, with a note for
// each part that did not.
std::wstring RegistrationLine(const ServiceSettingsResult& applied);
// "STOPPED", "RUNNING", ... or "UNKNOWN(<value>)".
std::wstring ServiceStateName(uint32_t state);

// What the "stop" and "restart" commands print and return, from what the operations reached.
struct CommandReport {
    int exitCode = 0;
    std::wstring out;  // for WriteOut, when not empty
    std::wstring err;  // for WriteErr, when not empty
};
// "已停止" only at STOPPED; any other state is named, with exit code 5.
CommandReport StopCommandReport(uint32_t finalState);
// A stop that did not reach STOPPED, a failed start, or a start refused as "already running" is no restart.
CommandReport RestartCommandReport(uint32_t stoppedState, bool started, bool alreadyRunning,
                                   const std::wstring& startError);

// Every operation opens the service control manager, does its one job and closes all handles.
// Any failure to open the service, access denial included, counts as absent.
bool ServiceExists();
// Retries for about 20 s while a just-deleted service is still being removed.
// *applied tells which of the later settings took effect.
bool InstallTunnelService(const std::wstring& exePath, std::wstring* errorText = nullptr,
                          ServiceSettingsResult* applied = nullptr, const std::wstring& iniPath = std::wstring());
bool QueryTunnelServiceState(uint32_t* state, std::wstring* errorText = nullptr);
// The registered command line; false without an error text when the service cannot be opened.
bool QueryTunnelServicePath(std::wstring* path, std::wstring* errorText = nullptr);
// Does not wait for RUNNING; an already running service counts as started (*alreadyRunning true).
bool StartTunnelService(std::wstring* errorText = nullptr, bool* alreadyRunning = nullptr);
// Waits up to about 20 s for STOPPED and succeeds whether or not it was reached; *finalState is the
// last state seen.
bool StopTunnelService(std::wstring* errorText = nullptr, uint32_t* finalState = nullptr);
// Stops (waiting up to about 10 s) and deletes; true when no service is installed (*existed false).
bool DeleteTunnelService(std::wstring* errorText = nullptr, bool* existed = nullptr);

// The "start", "stop" and "restart" commands: 0, or 5 when the operation failed.
int RunStartCommand();
int RunStopCommand();
int RunRestartCommand();

}  // namespace mw
