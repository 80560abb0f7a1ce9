// The supervisor loop: provision, write config.yml, start, watch, restart, reload, stop.
#include "supervisor/supervisor.h"

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

namespace mw {

void* StopEvent = nullptr;

bool StopRequested() { return StopEvent != nullptr && WaitForSingleObject(StopEvent, 0) == WAIT_OBJECT_0; }

bool WaitOrStop(int32_t seconds) {
    DWORD ms = WaitMilliseconds(seconds);
    if (StopEvent == nullptr) {
        Sleep(ms);
        return false;
    }
    return WaitForSingleObject(StopEvent, ms) == WAIT_OBJECT_0;
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

// Checks every 500 ms until the child exits, the INI file changes (reload, then kill) or a stop.
// The pause waits on the child itself, so an exit is seen at once rather than at the next check.
void Watch(Logger& log, ChildProcess& child, const ConnectorRunState& run, uint64_t& iniStamp,
               const std::wstring& ymlPath) {
    uint64_t lastWarnTick = 0;
    for (;;) {
        if (StopRequested()) return;
        if (!child.IsRunning()) return;
        const std::wstring iniPath = CurrentConfig().ini_path;
        uint64_t stamp = FileLastWriteTime(iniPath);
        if (stamp != 0 && stamp != iniStamp) {
            log.Write(L"INFO", L"检测到 mosswarden.ini 变化，重启 cloudflared");
            Config fresh;
            std::wstring error;
            if (LoadConfig(iniPath, fresh, &error)) {
                CurrentConfig() = fresh;
            } else {
                log.Write(L"WARN", L"重新加载配置失败，继续用旧配置: " + error);
            }
            iniStamp = stamp;
            std::wstring rewritten = ymlPath;
            WriteConfigYml(CurrentConfig(), &rewritten);
            child.Terminate(0);
            return;
        }
        if (!run.registered.load(std::memory_order_relaxed)) {
            uint64_t now = GetTickCount64();
            if (RegistrationWarningDue(now, run.startTick, CurrentConfig().supervisor.heartbeat_warn_sec,
                                       lastWarnTick)) {
                log.Write(L"WARN", FormatText(L"已 %u 秒未看到 \"Registered tunnel connection\"，隧道可能没通",
                                              static_cast<unsigned>((now - run.startTick) / 1000)));
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
        log.Open(config.supervisor.log_dir, L"mosswarden", config.supervisor.log_rotate_mb, !serviceMode,
                 serviceMode ? L"mosswarden-service.log" : L"");
    }
    WriteBanner(log);

    int32_t delay = CurrentConfig().supervisor.restart_delay;
    uint64_t iniStamp = FileLastWriteTime(CurrentConfig().ini_path);
    bool ymlAnnounced = false;
    ConnectorRunState run;
    // Declared after `run`: the child's pump thread uses it, so the child must go first.
    ChildProcess child;

    while (!StopRequested()) {
        std::wstring connector;
        if (!EnsureConnector(false, &connector, StopEvent)) {
            if (StopRequested()) break;
            log.Write(L"ERROR", FormatText(L"%d 秒后重试", delay));
            if (WaitOrStop(delay)) break;
            delay = NextBackoff(delay, CurrentConfig().supervisor.max_restart_delay);
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
        if (!env.empty()) log.Write(L"INFO", L"(token 通过环境变量 TUNNEL_TOKEN 传入，不出现在命令行里)");

        std::wstring error;
        if (!child.Start(connector, args, config.ini_dir, env,
                         [&log, &run](const std::wstring& line) { AnalyzeConnectorLine(log, run, line); }, &error)) {
            log.Write(L"ERROR", L"拉起 cloudflared 失败: " + error);
            if (WaitOrStop(delay)) break;
            delay = NextBackoff(delay, CurrentConfig().supervisor.max_restart_delay);
            child.Close();
            continue;
        }
        log.Write(L"INFO", FormatText(L"cloudflared 已启动，PID %u", static_cast<unsigned>(child.ProcessId())));

        Watch(log, child, run, iniStamp, ymlPath);
        bool stopped = StopRequested();
        child.Terminate(0);
        uint32_t exitCode = child.ExitCode();
        child.Close();
        if (stopped) {
            log.Write(L"INFO", L"收到停止信号，退出");
            break;
        }
        log.Write(L"WARN", ExitLine(exitCode));
        delay = CurrentConfig().supervisor.restart_delay;
        log.Write(L"INFO", FormatText(L"%d 秒后重启", delay));
        if (WaitOrStop(delay)) break;
    }

    log.Write(L"INFO", L"mosswarden 已退出");
    log.Close();
    return 0;
}

}  // namespace mw
