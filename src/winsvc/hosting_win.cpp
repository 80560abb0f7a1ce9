// Hosts the supervisor in a console, hidden, or as the service, and turns stop requests into StopEvent.
#include "winsvc/hosting.h"

#include "base/console.h"
#include "base/events.h"
#include "base/logger.h"
#include "base/paths.h"
#include "base/text.h"
#include "base/win.h"
#include "config/default_ini.h"
#include "config/loader.h"
#include "config/settings.h"
#include "supervisor/supervisor.h"
#include "winsvc/event_log.h"
#include "winsvc/service_control.h"
#include "winsvc/single_instance_win.h"

namespace mw {

namespace {

SERVICE_STATUS_HANDLE g_statusHandle = nullptr;
SERVICE_STATUS g_status = {};
DWORD g_checkPoint = 1;
// Set before the dispatcher starts and only read by ServiceMain afterwards.
std::wstring g_serviceIniPath;

void ReportStatus(DWORD state, DWORD controls, DWORD win32ExitCode, bool withCheckPoint, DWORD waitHint) {
    g_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    g_status.dwCurrentState = state;
    g_status.dwControlsAccepted = controls;
    g_status.dwWin32ExitCode = win32ExitCode;
    g_status.dwServiceSpecificExitCode = 0;
    g_status.dwCheckPoint = withCheckPoint ? g_checkPoint++ : 0;
    g_status.dwWaitHint = waitHint;
    SetServiceStatus(g_statusHandle, &g_status);
}

// Set once the console-hosted supervisor has returned, and with it written its stop lines.
HANDLE g_supervisorDone = nullptr;

BOOL WINAPI ConsoleCtrlHandler(DWORD type) {
    if (StopEvent != nullptr) SetEvent(StopEvent);
    // Closing the window, logging off and shutting down end the process as soon as the handler
    // returns (or after about 5 seconds): wait for the supervisor to finish its lines first.
    if ((type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT) &&
        g_supervisorDone != nullptr) {
        WaitForSingleObject(g_supervisorDone, 4500);
    }
    return TRUE;
}

// Only for a real console: a redirected or missing standard input has no key to wait for.
void WaitForKey() {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (input == nullptr || input == INVALID_HANDLE_VALUE || !GetConsoleMode(input, &mode)) return;
    FlushConsoleInputBuffer(input);
    for (;;) {
        INPUT_RECORD record = {};
        DWORD read = 0;
        if (!ReadConsoleInputW(input, &record, 1, &read) || read == 0) return;
        if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown) return;
    }
}

DWORD WINAPI ServiceCtrlHandler(DWORD control, DWORD, void*, void*) {
    switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
        if (g_statusHandle != nullptr) ReportStatus(SERVICE_STOP_PENDING, SERVICE_ACCEPT_STOP, 0, true, 8000);
        if (StopEvent != nullptr) SetEvent(StopEvent);
        return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
        if (g_statusHandle != nullptr) {
            DWORD state = g_status.dwCurrentState;
            bool pending = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING;
            ReportStatus(state, state == SERVICE_START_PENDING ? 0 : SERVICE_ACCEPT_STOP, 0, pending, 0);
        }
        return NO_ERROR;
    default:
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void OpenServiceLog(const Config& config) {
    Logger::Instance().Open(ServiceLog(config));
}

void WINAPI ServiceMain(DWORD, LPWSTR*) {
    g_statusHandle = RegisterServiceCtrlHandlerExW(kServiceName, ServiceCtrlHandler, nullptr);
    if (g_statusHandle == nullptr) return;
    ReportStatus(SERVICE_START_PENDING, 0, 0, true, 10000);

    StopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (StopEvent == nullptr) {
        ReportStatus(SERVICE_STOPPED, SERVICE_ACCEPT_STOP, 1, false, 0);
        return;
    }

    Config& config = CurrentConfig();
    config.ini_path = g_serviceIniPath.empty() ? DefaultIniPath() : FullPath(g_serviceIniPath);
    config.ini_dir = DirectoryOf(config.ini_path);
    config.supervisor.log_dir = JoinPath(config.ini_dir, SupervisorSettings().log_dir);
    config.tunnel.config_file = JoinPath(config.ini_dir, L"config.yml");
    std::wstring error;
    if (!EnsureDefaultIni(config.ini_path, &error)) {
        OpenServiceLog(config);
        Logger::Instance().Write(L"WARN", error);
    }
    error.clear();
    if (!LoadConfig(config.ini_path, config, &error)) {
        OpenServiceLog(config);
        Logger::Instance().Write(L"ERROR", error);
        Logger::Instance().Write(L"ERROR", L"服务以默认配置继续运行（隧道大概率连不上，先跑一次 --install 生成 ini）");
    }

    SupervisorLock lock;
    uint32_t holder = 0;
    error.clear();
    LockResult locked = AcquireSupervisorLock(config.ini_path, true, &lock, &holder, &error);
    if (locked == LockResult::Held) {
        OpenServiceLog(config);
        Logger::Instance().Write(L"ERROR", AlreadySupervisingText(FullPath(config.ini_path), holder));
        ReportStatus(SERVICE_STOPPED, 0, ERROR_ALREADY_EXISTS, false, 0);
        return;
    }
    if (locked == LockResult::Failed) {
        OpenServiceLog(config);
        Logger::Instance().Write(L"WARN", error);
    }

    ReportStatus(SERVICE_RUNNING, SERVICE_ACCEPT_STOP, 0, false, 0);
    OpenServiceEventLog();
    ReportSupervisorEvent(SupervisorEvent::SupervisorStarted, {config.ini_path});
    RunSupervisor(true);
    ReportSupervisorEvent(SupervisorEvent::SupervisorStopped, {CurrentConfig().ini_path});
    CloseServiceEventLog();
    // StopEvent stays open: the control handler may still signal it until the process ends.
    ReportStatus(SERVICE_STOPPED, SERVICE_ACCEPT_STOP, 0, false, 0);
}

}  // namespace

int HostSupervisor(const std::wstring& iniPath, bool daemon) {
    std::wstring path = iniPath.empty() ? DefaultIniPath() : iniPath;
    std::wstring error;
    if (!PrepareConfig(path, &error)) {
        WriteErr(L"准备配置失败: " + error);
        return 2;
    }
    SupervisorLock lock;
    uint32_t holder = 0;
    error.clear();
    LockResult locked = AcquireSupervisorLock(path, false, &lock, &holder, &error);
    if (locked == LockResult::Held) {
        WriteErr(AlreadySupervisingText(FullPath(path), holder));
        return kAlreadySupervisedExit;
    }
    // Without the lock the supervisor still runs: a second one is less harm than none.
    if (locked == LockResult::Failed) WriteErr(error);
    if (daemon) {
        HWND window = GetConsoleWindow();
        if (window != nullptr) ShowWindow(window, SW_HIDE);
    } else {
        SetConsoleCtrlHandler(ConsoleCtrlHandler, TRUE);
    }
    // Named, so that an install or uninstall on the same INI can ask this supervisor to stop.
    StopEvent = CreateConsoleStopEvent(path);
    if (StopEvent == nullptr) StopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_supervisorDone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    int result = RunSupervisor(false);
    // Both events stay open until the process ends: the control handler may use them at any time.
    if (g_supervisorDone != nullptr) SetEvent(g_supervisorDone);
    lock.Release();
    if (!daemon) {
        WriteOut(FormatText(L"退出码 %d", result));
        WriteOut(L"按任意键关闭…");
        WaitForKey();
    }
    return result;
}

int RunServiceDispatcher(const std::wstring& iniPath) {
    g_serviceIniPath = iniPath;
    SERVICE_TABLE_ENTRYW table[] = {{const_cast<wchar_t*>(kServiceName), ServiceMain}, {nullptr, nullptr}};
    if (StartServiceCtrlDispatcherW(table)) return 0;
    return HostSupervisor(iniPath, false);
}

}  // namespace mw
