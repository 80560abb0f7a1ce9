// The install and uninstall commands: service as administrator, logon autostart and one daemon otherwise.
#include "base/console.h"
#include "base/handles.h"
#include "base/logger.h"
#include "base/paths.h"
#include "base/platform.h"
#include "base/text.h"
#include "base/win.h"
#include "config/ini_reader.h"
#include "config/loader.h"
#include "config/settings.h"
#include "config/yaml.h"
#include "provision/provision.h"
#include "winsvc/event_log.h"
#include "winsvc/install.h"
#include "winsvc/service_control.h"
#include "winsvc/single_instance.h"

namespace mw {

namespace {

// The install's log file is closed on every way out, so its folder can be moved or removed afterwards.
struct LoggerCloser {
    ~LoggerCloser() { Logger::Instance().Close(); }
};

// "--quiet": progress and notices stay unsaid; errors still go to standard error.
bool g_quiet = false;

void Say(const std::wstring& text) {
    if (!g_quiet) WriteOut(text);
}

void Notice(const std::wstring& text) {
    if (!g_quiet) WriteErr(text);
}

bool LogonAutostartExists() {
    UniqueRegKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunKeyPath, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS) return false;
    return RegQueryValueExW(key.get(), kRunValueName, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

// One supervisor per INI: the service replaces the per-user autostart and a daemon already running.
void TakeOverFromAutostart(const std::wstring& iniPath) {
    if (LogonAutostartExists()) {
        if (SetLogonAutostart(false)) {
            Say(L"已清除登录自启项 HKCU\\...\\Run\\mosswarden（改由服务守护）");
        } else {
            WriteErr(L"清除 HKCU Run 键失败");
        }
    }
    uint32_t pid = 0;
    bool forced = false;
    if (StopConsoleSupervisor(iniPath, &pid, &forced)) Say(ConsoleSupervisorStoppedText(pid, forced));
}

int InstallService(const std::wstring& programPath, const std::wstring& iniArgument, const std::wstring& iniPath) {
    const Config& config = CurrentConfig();
    TakeOverFromAutostart(iniPath);
    if (ServiceExists()) {
        std::wstring oldPath;
        if (QueryTunnelServicePath(&oldPath) && !oldPath.empty()) Say(L"原服务指向: " + oldPath);
        Say(L"新服务将指向: " + ServiceCommandLine(programPath, iniArgument));
        Say(L"服务已存在，先卸载再装…");
        std::wstring error;
        if (!DeleteTunnelService(&error)) {
            WriteErr(error);
            return 5;
        }
    }
    std::wstring error;
    ServiceSettingsResult applied;
    if (!InstallTunnelService(programPath, &error, &applied, iniArgument)) {
        WriteErr(error);
        return 5;
    }
    Say(RegistrationLine(applied));
    if (InstallEventLogSource(programPath, &error)) {
        Say(L"已注册事件日志源 mosswarden（Windows 日志 → 应用程序）");
    } else {
        WriteErr(error);
    }
    error.clear();
    if (StartTunnelService(&error)) {
        Say(L"服务已启动");
    } else {
        WriteErr(L"启动失败: " + error);
    }
    Sleep(1200);
    uint32_t state = 0;
    if (QueryTunnelServiceState(&state)) Say(L"当前状态: " + ServiceStateName(state));
    Say(L"日志: " + JoinPath(config.supervisor.log_dir, kServiceLogName));
    return 0;
}

int InstallAutostart(const std::wstring& iniPath, const std::wstring& programPath, const std::wstring& iniArgument) {
    Notice(L"当前不是管理员：无法安装服务，改为注册登录自启（--daemon）。");
    Notice(L"要装成服务，请右键以管理员身份运行本程序。");
    if (!SetLogonAutostartFor(programPath, true, iniArgument)) {
        WriteErr(L"写入 HKCU Run 键失败");
        return 4;
    }
    Say(L"已写入 HKCU\\...\\Run\\mosswarden");
    uint32_t holder = 0;
    if (FindSupervisor(iniPath, &holder)) {
        Say(AlreadySupervisingText(FullPath(iniPath), holder));
        return 0;
    }
    Say(L"现在启动一次后台守护…");
    uint32_t processId = 0;
    std::wstring error;
    if (LaunchDetachedDaemon(programPath, &processId, &error, iniArgument)) {
        Say(FormatText(L"后台守护已拉起（PID %u）", static_cast<unsigned>(processId)));
    } else {
        WriteErr(L"拉起失败: " + error);
    }
    return 0;
}

// Reads the token file and writes its token into the INI; the token itself is never printed.
bool StoreTokenFromFile(const std::wstring& tokenFile, const std::wstring& iniPath, std::wstring* errorText) {
    bool ok = false;
    std::wstring text = ReadTextFile(tokenFile, ok);
    std::wstring token;
    if (!ok) {
        *errorText = L"读取 token 文件失败: " + tokenFile;
        return false;
    }
    if (!TokenFromFileText(text, &token)) {
        *errorText = L"token 文件是空的: " + tokenFile;
        return false;
    }
    std::wstring ini = ReadTextFile(iniPath, ok);
    if (!ok) {
        *errorText = L"读取配置失败: " + iniPath;
        return false;
    }
    if (!WriteTextFile(iniPath, SetIniValue(ini, L"tunnel", L"token", token), true)) {
        DWORD err = GetLastError();
        *errorText = L"写入 token 到配置失败: " + iniPath + L"（" + Win32ErrorText(err) + L"）";
        return false;
    }
    return true;
}

}  // namespace

bool SetLogonAutostart(bool enable) { return SetLogonAutostartFor(ModulePath(), enable); }

bool SetLogonAutostartFor(const std::wstring& programPath, bool enable, const std::wstring& iniPath) {
    UniqueRegKey key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kRunKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr,
                        key.put(), nullptr) != ERROR_SUCCESS) {
        return false;
    }
    if (enable) {
        std::wstring data = AutostartCommandLine(programPath, iniPath);
        DWORD bytes = static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t));
        return RegSetValueExW(key.get(), kRunValueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                              bytes) == ERROR_SUCCESS;
    }
    LSTATUS rc = RegDeleteValueW(key.get(), kRunValueName);
    return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
}

bool LaunchDetachedDaemon(const std::wstring& programPath, uint32_t* processId, std::wstring* errorText,
                          const std::wstring& iniPath) {
    std::wstring commandLine = AutostartCommandLine(programPath, iniPath);
    std::wstring workingDir = DirectoryOf(programPath);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    // No handle is inherited: a daemon that held the installer's output pipe would keep its reader waiting.
    // Breaking away from a job the installer may run in keeps the daemon alive when that job closes;
    // a job that forbids breakaway refuses with access denied, and then the daemon stays inside it.
    DWORD flags = CREATE_NO_WINDOW | CREATE_BREAKAWAY_FROM_JOB;
    BOOL ok = FALSE;
    DWORD err = ERROR_SUCCESS;
    for (int attempt = 0; attempt < 2 && !ok; ++attempt) {
        std::wstring writable = commandLine;
        ok = CreateProcessW(programPath.c_str(), &writable[0], nullptr, nullptr, FALSE, flags, nullptr,
                            workingDir.empty() ? nullptr : workingDir.c_str(), &startup, &info);
        if (!ok) {
            err = GetLastError();
            if (err != ERROR_ACCESS_DENIED) break;
            flags &= ~static_cast<DWORD>(CREATE_BREAKAWAY_FROM_JOB);
        }
    }
    if (!ok) {
        if (errorText != nullptr) *errorText = L"CreateProcess 失败: " + Win32ErrorText(err);
        return false;
    }
    // Closing our handles does not end the process; nothing else ties it to the installer.
    UniqueHandle process(info.hProcess);
    UniqueHandle thread(info.hThread);
    if (processId != nullptr) *processId = info.dwProcessId;
    return true;
}

int InstallFlowAs(const std::wstring& iniPath, bool elevated, const std::wstring& programPath,
                  const InstallOptions& options, const SecuritySetter& setSecurity) {
    g_quiet = options.quiet;
    std::wstring error;
    if (!PrepareConfig(iniPath, &error)) {
        WriteErr(L"准备配置失败: " + error);
        return 2;
    }
    if (!options.tokenFile.empty()) {
        if (!StoreTokenFromFile(options.tokenFile, iniPath, &error) || !PrepareConfig(iniPath, &error)) {
            WriteErr(L"准备配置失败: " + error);
            return 2;
        }
    }
    const Config& config = CurrentConfig();
    Logger::Instance().Open(DailyLog(config, !g_quiet));
    LoggerCloser closeLog;
    // Before the download, so the connector inherits the folder's DACL; a user's own folder is left alone.
    if (elevated) {
        std::vector<LockDownTarget> targets = LockDownTargets(DirectoryOf(programPath), FullPath(iniPath));
        std::vector<std::wstring> failures;
        if (LockDown(targets, setSecurity, &failures)) {
            Say(LockDownLine(targets));
        } else {
            for (const std::wstring& failure : failures) WriteErr(failure);
        }
    }
    if (!EnsureConnector(false)) {
        WriteErr(L"cloudflared 落地失败，见日志");
        return 3;
    }
    if (config.tunnel.mode == L"config") {
        std::wstring written;
        error.clear();
        if (WriteConfigYml(config, &written, &error)) {
            Say(L"已生成 " + written);
        } else {
            WriteErr(L"生成 config.yml 失败: " + error);
        }
    }
    for (const std::wstring& line : InstallSummaryLines(config, iniPath)) Say(line);
    // The registration names the INI unless it is the default one beside the program it starts.
    std::wstring iniArgument = IniArgument(FullPath(iniPath), JoinPath(DirectoryOf(programPath), L"mosswarden.ini"));
    return elevated ? InstallService(programPath, iniArgument, iniPath)
                    : InstallAutostart(iniPath, programPath, iniArgument);
}

// Read only: a missing or unreadable INI still lets the defaults name the usual files.
void PrintLeftInPlace(const std::wstring& iniPath) {
    Config config;
    if (!LoadConfig(iniPath, config)) ApplyIniEntries({}, iniPath, config);
    LeftInPlace left;
    if (FileExists(iniPath)) {
        left.ini = iniPath;
        left.iniHasToken = !config.tunnel.token.empty();
    }
    std::wstring connector = JoinPath(config.ini_dir, config.cloudflared.exe);
    if (FileExists(connector)) left.connector = connector;
    std::wstring yml = JoinPath(config.ini_dir, config.tunnel.config_file);
    if (FileExists(yml)) left.configYml = yml;
    DWORD attributes = GetFileAttributesW(config.supervisor.log_dir.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) left.logDir = config.supervisor.log_dir;
    for (const std::wstring& line : LeftInPlaceLines(left)) WriteOut(line);
}

int UninstallFlowAs(bool elevated, const std::wstring& iniPath) {
    // A value left behind would start the daemon again at the next logon: say so rather than stay silent.
    if (!SetLogonAutostart(false)) WriteErr(L"清除 HKCU Run 键失败");
    uint32_t pid = 0;
    bool forced = false;
    if (StopConsoleSupervisor(iniPath, &pid, &forced)) WriteOut(ConsoleSupervisorStoppedText(pid, forced));
    if (!elevated) {
        WriteErr(L"不是管理员，只能清掉登录自启项；服务需要管理员才能删。");
        PrintLeftInPlace(iniPath);
        return 0;
    }
    std::wstring error;
    bool existed = false;
    if (!DeleteTunnelService(&error, &existed)) {
        WriteErr(error);
        return 5;
    }
    WriteOut(existed ? L"服务已删除" : L"服务未安装");
    bool sourceExisted = false;
    error.clear();
    if (!RemoveEventLogSource(&sourceExisted, &error)) {
        WriteErr(error);
    } else if (sourceExisted) {
        WriteOut(L"已删除事件日志源 mosswarden");
    }
    PrintLeftInPlace(iniPath);
    return 0;
}

int InstallFlow(const std::wstring& iniPath, const InstallOptions& options) {
    return InstallFlowAs(iniPath, IsElevated(), ModulePath(), options);
}

int UninstallFlow(const std::wstring& iniPath) { return UninstallFlowAs(IsElevated(), iniPath); }

}  // namespace mw
