// The supervisor loop: provision, write config.yml, start, watch, restart, reload, stop.
#include "supervisor/supervisor.h"

#include "base/events.h"
#include "base/logger.h"
#include "base/paths.h"
#include "base/platform.h"
#include "base/process.h"
#include "base/text.h"
#include "base/win.h"
#include "config/loader.h"
#include "config/yaml.h"
#include "provision/provision.h"
#include "supervisor/analyzer.h"
#include "supervisor/connector_args.h"
#include "supervisor/loop_rules.h"
#include "supervisor/readiness.h"
#include "supervisor/readiness_win.h"
#include "supervisor/run_state.h"

namespace mw {

void* StopEvent = nullptr;

bool StopRequested() { return StopEvent != nullptr && WaitForSingleObject(StopEvent, 0) == WAIT_OBJECT_0; }

bool WaitOrStop(int32_t seconds) { return WaitOrStopMs(WaitMilliseconds(seconds)); }

bool WaitOrStopMs(uint32_t milliseconds) {
    if (StopEvent == nullptr) {
        Sleep(milliseconds);
        return false;
    }
    return WaitForSingleObject(StopEvent, milliseconds) == WAIT_OBJECT_0;
}

namespace {

void WriteBanner(Logger& log) {
    OsVersionInfo os = GetOsVersionInfo();
    BannerFacts facts;
    facts.osText = DescribeOs(os);
    facts.atLeastWin7 = os.atLeastWin7;
    facts.archWord = BuildArchWord();
    facts.elevated = IsElevated();
    facts.modulePath = ModulePath();
    for (const LogLine& line : StartBannerLines(CurrentConfig(), facts)) log.Write(line.level, line.text);
}

uint64_t FileTimeNow() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

// The state file beside the log, replaced whole so that a reader never sees half of it.
void SaveRunState(const RunState& state) {
    const std::wstring path = JoinPath(DirectoryOf(Logger::Instance().CurrentPath()), kRunStateFileName);
    const std::wstring temporary = path + L".tmp";
    if (WriteWholeFile(temporary, FormatRunState(state))) {
        MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
    }
}

// What the loop knows about the INI file: its time stamp when last read.
struct IniWatch {
    uint64_t stamp = 0;

    // True once when the file's time stamp moved: the new settings become current (a failed load
    // keeps the old ones, with a WARN). The caller writes config.yml from them.
    bool Reload(Logger& log, const wchar_t* announcement) {
        const std::wstring iniPath = CurrentConfig().ini_path;
        uint64_t now = FileLastWriteTime(iniPath);
        if (now == 0 || now == stamp) return false;
        stamp = now;
        log.Write(L"INFO", announcement);
        Config fresh;
        std::wstring error;
        if (LoadConfig(iniPath, fresh, &error)) {
            CurrentConfig() = fresh;
            ReportSupervisorEvent(SupervisorEvent::IniReloaded, {iniPath});
        } else {
            log.Write(L"WARN", L"重新加载配置失败，继续用旧配置: " + error);
            ReportSupervisorEvent(SupervisorEvent::IniReloadFailed, {iniPath, error});
        }
        return true;
    }
};

const wchar_t kIniChangedRestart[] = L"检测到 mosswarden.ini 变化，重启 cloudflared";
const wchar_t kIniChangedReload[] = L"检测到 mosswarden.ini 变化，重新加载配置";

enum class WaitEnd { Elapsed, Stopped, IniChanged };

// Waits the seconds in short slices, ending early on a stop or a saved INI (which is loaded).
WaitEnd WaitWatchingIni(Logger& log, IniWatch& ini, int32_t seconds) {
    const uint64_t end = GetTickCount64() + WaitMilliseconds(seconds);
    for (;;) {
        if (ini.Reload(log, kIniChangedReload)) return WaitEnd::IniChanged;
        uint64_t now = GetTickCount64();
        if (now >= end) return StopRequested() ? WaitEnd::Stopped : WaitEnd::Elapsed;
        uint64_t slice = end - now < 500 ? end - now : 500;
        if (WaitOrStopMs(static_cast<uint32_t>(slice))) return WaitEnd::Stopped;
    }
}

// How one connector run ended, as the watch saw it.
struct WatchEnd {
    bool iniChanged = false;
    bool unready = false;
};

// Checks every 500 ms until the child exits, the INI file changes (reload, then kill), the tunnel
// stays unready too long (kill) or a stop. The pause waits on the child itself, so an exit is seen
// at once rather than at the next check. /ready is asked every kReadyPollSeconds.
WatchEnd Watch(Logger& log, ChildProcess& child, const ConnectorRunState& run, IniWatch& ini,
               const std::wstring& ymlPath, uint64_t& registeredTick, RunState& state) {
    WatchEnd end;
    uint64_t lastWarnTick = 0;
    const std::wstring readyUrl = ReadyUrl(CurrentConfig().supervisor.metrics);
    ReadinessWatch readiness;
    readiness.readySinceTick = run.startTick;
    uint64_t nextPoll = run.startTick + kReadyPollSeconds * 1000;
    for (;;) {
        if (StopRequested()) return end;
        if (!child.IsRunning()) return end;
        if (ini.Reload(log, kIniChangedRestart)) {
            std::wstring rewritten = ymlPath;
            WriteConfigYml(CurrentConfig(), &rewritten);
            child.Terminate(0);
            end.iniChanged = true;
            return end;
        }
        uint64_t now = GetTickCount64();
        if (run.registered.load(std::memory_order_relaxed)) {
            registeredTick = now;
        } else if (RegistrationWarningDue(now, registeredTick, CurrentConfig().supervisor.heartbeat_warn_sec,
                                          lastWarnTick)) {
            log.Write(L"WARN", FormatText(L"已 %u 秒未看到 \"Registered tunnel connection\"，隧道可能没通",
                                          static_cast<unsigned>((now - registeredTick) / 1000)));
        }
        if (!readyUrl.empty() && now >= nextPoll) {
            ReadyAnswer answer = QueryReady(readyUrl);
            now = GetTickCount64();
            nextPoll = now + kReadyPollSeconds * 1000;
            ReadinessStep step = ObserveReadiness(readiness, answer, now, CurrentConfig().supervisor.unready_restart_sec);
            if (!step.info.empty()) {
                log.Write(L"INFO", step.info);
                state.readyConnections = readiness.lastCount;
                SaveRunState(state);
            }
            if (step.restart) {
                log.Write(L"WARN", step.warn);
                ReportSupervisorEvent(SupervisorEvent::TunnelNotReady,
                                      {FormatText(L"%u", static_cast<unsigned>((now - readiness.readySinceTick) / 1000))});
                child.Terminate(0);
                end.unready = true;
                return end;
            }
        }
        child.Wait(500);
    }
}

}  // namespace

int RunSupervisor(bool serviceMode) {
    Logger& log = Logger::Instance();
    {
        const Config& config = CurrentConfig();
        log.Open(serviceMode ? ServiceLog(config) : DailyLog(config, true));
    }
    WriteBanner(log);

    int32_t delay = CurrentConfig().supervisor.restart_delay;
    IniWatch ini;
    ini.stamp = FileLastWriteTime(CurrentConfig().ini_path);
    bool ymlAnnounced = false;
    // The registration warning counts from the last time the tunnel was seen registered, across
    // restarts: a connector that exits at once would otherwise restart the clock every time.
    uint64_t registeredTick = GetTickCount64();
    RunState state;
    state.supervisorPid = GetCurrentProcessId();
    bool started = false;
    ConnectorRunState run;
    // Declared after `run`: the child's pump thread uses it, so the child must go first.
    ChildProcess child;

    while (!StopRequested()) {
        ini.Reload(log, kIniChangedReload);
        std::wstring connector;
        if (!EnsureConnector(false, &connector, StopEvent)) {
            if (StopRequested()) break;
            log.Write(L"ERROR", FormatText(L"%d 秒后重试", delay));
            ReportSupervisorEvent(SupervisorEvent::ProvisionFailed, {FormatText(L"%d", delay)});
            WaitEnd waited = WaitWatchingIni(log, ini, delay);
            if (waited == WaitEnd::Stopped) break;
            if (waited == WaitEnd::IniChanged) {
                delay = CurrentConfig().supervisor.restart_delay;
            } else {
                delay = NextBackoff(delay, CurrentConfig().supervisor.max_restart_delay);
            }
            continue;
        }

        const Config& config = CurrentConfig();
        std::wstring ymlPath = config.tunnel.config_file;
        if (config.tunnel.mode == L"config" || config.tunnel.mode == L"token") {
            std::wstring error;
            if (WriteConfigYml(config, &ymlPath, &error)) {
                if (!ymlAnnounced) {
                    log.Write(L"INFO", L"已生成 " + ymlPath);
                    ymlAnnounced = true;
                }
            } else {
                log.Write(L"ERROR", error);
            }
        }
        std::wstring args = BuildConnectorArgs(config, ymlPath);
        EnvironmentList env = BuildConnectorEnvironment(config);
        run.Reset(GetTickCount64());
        log.Write(L"INFO", L"启动: \"" + connector + L"\" " + args);
        if (config.tunnel.mode == L"token" && !config.tunnel.token.empty()) {
            log.Write(L"INFO", L"(token 通过环境变量 TUNNEL_TOKEN 传入，不出现在命令行里)");
        }

        std::wstring error;
        if (!child.Start(connector, args, config.ini_dir, env,
                         [&log, &run](const std::wstring& line) { AnalyzeConnectorLine(log, run, line); }, &error)) {
            log.Write(L"ERROR", L"拉起 cloudflared 失败: " + error);
            child.Close();
            if (WaitWatchingIni(log, ini, delay) == WaitEnd::Stopped) break;
            delay = NextBackoff(delay, CurrentConfig().supervisor.max_restart_delay);
            continue;
        }
        log.Write(L"INFO", FormatText(L"cloudflared 已启动，PID %u", static_cast<unsigned>(child.ProcessId())));
        ReportSupervisorEvent(SupervisorEvent::ConnectorStarted,
                              {FormatText(L"%u", static_cast<unsigned>(child.ProcessId()))});
        const uint64_t nowFile = FileTimeNow();
        if (started) state.restarts.push_back(nowFile);
        started = true;
        DropOldRestarts(state, nowFile);
        state.connectorPid = child.ProcessId();
        state.connectorStarted = nowFile;
        state.readyConnections = ReadyUrl(config.supervisor.metrics).empty() ? -1 : 0;
        SaveRunState(state);

        WatchEnd watched = Watch(log, child, run, ini, ymlPath, registeredTick, state);
        bool stopped = StopRequested();
        child.Terminate(0);
        uint32_t exitCode = child.ExitCode();
        child.Close();
        state.connectorPid = 0;
        state.hasExit = true;
        state.lastExitCode = exitCode;
        state.readyConnections = -1;
        SaveRunState(state);
        if (stopped) {
            log.Write(L"INFO", L"收到停止信号，退出");
            break;
        }
        log.Write(L"WARN", ExitLine(exitCode));
        ReportSupervisorEvent(SupervisorEvent::ConnectorExited,
                              {FormatText(L"%u（0x%08X）", static_cast<unsigned>(exitCode), static_cast<unsigned>(exitCode))});
        const uint64_t lived = GetTickCount64() - run.startTick;
        int32_t wait = CurrentConfig().supervisor.restart_delay;
        if (!watched.iniChanged && RunCountsAsFailure(run.registered.load(), lived, watched.unready)) {
            wait = delay;
            delay = NextBackoff(delay, CurrentConfig().supervisor.max_restart_delay);
        } else {
            delay = CurrentConfig().supervisor.restart_delay;
        }
        log.Write(L"INFO", FormatText(L"%d 秒后重启", wait));
        if (WaitWatchingIni(log, ini, wait) == WaitEnd::Stopped) break;
    }

    log.Write(L"INFO", L"mosswarden 已退出");
    log.Close();
    return 0;
}

}  // namespace mw
