// Service control manager calls for the "mosswarden" service, and the start/stop/restart commands.
#include <vector>

#include "base/console.h"
#include "base/handles.h"
#include "base/text.h"
#include "base/win.h"
#include "winsvc/service_control.h"
#include "winsvc/service_settings_win.h"

namespace mw {

namespace {

void SetError(std::wstring* errorText, const std::wstring& text) {
    if (errorText != nullptr) *errorText = text;
}

std::wstring ApiError(const wchar_t* prefix, DWORD err) { return prefix + Win32ErrorText(err); }

UniqueScHandle OpenManager(DWORD access) { return UniqueScHandle(OpenSCManagerW(nullptr, nullptr, access)); }

// Polls until the service reports STOPPED or the query fails; `rounds` × 500 ms at most. Returns the
// last state seen, `known` when no query succeeded.
DWORD WaitForStopped(SC_HANDLE service, int rounds, DWORD known = 0) {
    DWORD state = known;
    for (int i = 0; i < rounds; ++i) {
        SERVICE_STATUS status = {};
        if (!QueryServiceStatus(service, &status)) break;
        state = status.dwCurrentState;
        if (state == SERVICE_STOPPED) break;
        Sleep(500);
    }
    return state;
}

void Print(const CommandReport& report) {
    if (!report.out.empty()) WriteOut(report.out);
    if (!report.err.empty()) WriteErr(report.err);
}

// Manager and service opened with the texts shared by start and stop.
bool OpenForControl(DWORD access, UniqueScHandle* manager, UniqueScHandle* service, std::wstring* errorText) {
    *manager = OpenManager(SC_MANAGER_CONNECT);
    if (!manager->valid()) {
        DWORD err = GetLastError();
        SetError(errorText, ApiError(L"OpenSCManager 失败: ", err));
        return false;
    }
    *service = UniqueScHandle(OpenServiceW(manager->get(), kServiceName, access));
    if (!service->valid()) {
        DWORD err = GetLastError();
        SetError(errorText, err == ERROR_SERVICE_DOES_NOT_EXIST ? std::wstring(L"服务未安装")
                                                                : ApiError(L"OpenService 失败: ", err));
        return false;
    }
    return true;
}

}  // namespace

ServiceSettingsResult ApplyServiceSettings(SC_HANDLE service, ChangeServiceConfig2Fn change) {
    ServiceSettingsResult result;
    std::wstring description = kServiceDescription;
    SERVICE_DESCRIPTIONW descriptionInfo = {};
    descriptionInfo.lpDescription = &description[0];
    result.description = change(service, SERVICE_CONFIG_DESCRIPTION, &descriptionInfo) != FALSE;

    SERVICE_DELAYED_AUTO_START_INFO delayed = {};
    delayed.fDelayedAutostart = TRUE;
    result.delayedStart = change(service, SERVICE_CONFIG_DELAYED_AUTO_START_INFO, &delayed) != FALSE;

    SC_ACTION actions[3] = {{SC_ACTION_RESTART, 5000}, {SC_ACTION_RESTART, 15000}, {SC_ACTION_RESTART, 60000}};
    SERVICE_FAILURE_ACTIONSW failure = {};
    failure.dwResetPeriod = 86400;  // one day without failures resets the count
    failure.lpRebootMsg = nullptr;
    failure.lpCommand = nullptr;
    failure.cActions = 3;
    failure.lpsaActions = actions;
    result.failureActions = change(service, SERVICE_CONFIG_FAILURE_ACTIONS, &failure) != FALSE;
    return result;
}

bool ServiceExists() {
    UniqueScHandle manager = OpenManager(SC_MANAGER_CONNECT);
    if (!manager) return false;
    UniqueScHandle service(OpenServiceW(manager.get(), kServiceName, SERVICE_QUERY_STATUS));
    return service.valid();
}

bool InstallTunnelService(const std::wstring& exePath, std::wstring* errorText, ServiceSettingsResult* applied,
                          const std::wstring& iniPath) {
    UniqueScHandle manager = OpenManager(SC_MANAGER_CREATE_SERVICE);
    if (!manager) {
        DWORD err = GetLastError();
        SetError(errorText, ApiError(L"OpenSCManager(CREATE) 失败: ", err) + L"（需要管理员）");
        return false;
    }
    std::wstring commandLine = ServiceCommandLine(exePath, iniPath);
    DWORD err = ERROR_SUCCESS;
    for (int attempt = 1; attempt <= 20; ++attempt) {
        UniqueScHandle service(CreateServiceW(manager.get(), kServiceName, kServiceDisplayName, SERVICE_ALL_ACCESS,
                                              SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                              commandLine.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
        if (service) {
            ServiceSettingsResult result = ApplyServiceSettings(service.get());
            if (applied != nullptr) *applied = result;
            return true;
        }
        err = GetLastError();
        // A just-deleted service stays "marked for delete" until its last handle is closed.
        if (err != ERROR_SERVICE_MARKED_FOR_DELETE || attempt == 20) break;
        Sleep(1000);
    }
    SetError(errorText, err == ERROR_SERVICE_EXISTS ? std::wstring(L"服务已存在（先 --uninstall 再装）")
                                                    : ApiError(L"CreateService 失败: ", err));
    return false;
}

bool QueryTunnelServiceState(uint32_t* state, std::wstring* errorText) {
    UniqueScHandle manager = OpenManager(SC_MANAGER_CONNECT);
    if (!manager) {
        DWORD err = GetLastError();
        SetError(errorText, err == ERROR_ACCESS_DENIED ? std::wstring(L"打开服务管理器被拒绝（用管理员运行）")
                                                       : ApiError(L"OpenSCManager 失败: ", err));
        return false;
    }
    UniqueScHandle service(OpenServiceW(manager.get(), kServiceName, SERVICE_QUERY_STATUS));
    if (!service) {
        DWORD err = GetLastError();
        SetError(errorText, err == ERROR_SERVICE_DOES_NOT_EXIST ? std::wstring(L"服务未安装")
                                                                : ApiError(L"OpenService 失败: ", err));
        return false;
    }
    SERVICE_STATUS status = {};
    if (!QueryServiceStatus(service.get(), &status)) {
        DWORD err = GetLastError();
        SetError(errorText, ApiError(L"QueryServiceStatus 失败: ", err));
        return false;
    }
    if (state != nullptr) *state = status.dwCurrentState;
    return true;
}

bool QueryTunnelServicePath(std::wstring* path, std::wstring* errorText) {
    UniqueScHandle manager = OpenManager(SC_MANAGER_CONNECT);
    if (!manager) return false;
    UniqueScHandle service(OpenServiceW(manager.get(), kServiceName, SERVICE_QUERY_CONFIG));
    if (!service) return false;
    DWORD needed = 0;
    QueryServiceConfigW(service.get(), nullptr, 0, &needed);
    if (needed == 0) needed = 8192;
    // QUERY_SERVICE_CONFIGW holds pointers: keep the buffer pointer-aligned.
    std::vector<uint64_t> buffer((needed + sizeof(uint64_t) - 1) / sizeof(uint64_t), 0);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    if (!QueryServiceConfigW(service.get(), config, needed, &needed)) {
        DWORD err = GetLastError();
        SetError(errorText, ApiError(L"QueryServiceConfig 失败: ", err));
        return false;
    }
    if (path != nullptr) *path = config->lpBinaryPathName != nullptr ? config->lpBinaryPathName : L"";
    return true;
}

bool StartTunnelService(std::wstring* errorText, bool* alreadyRunning) {
    if (alreadyRunning != nullptr) *alreadyRunning = false;
    UniqueScHandle manager, service;
    if (!OpenForControl(SERVICE_START | SERVICE_QUERY_STATUS, &manager, &service, errorText)) return false;
    if (!StartServiceW(service.get(), 0, nullptr)) {
        DWORD err = GetLastError();
        if (err == ERROR_SERVICE_ALREADY_RUNNING) {
            if (alreadyRunning != nullptr) *alreadyRunning = true;
            return true;
        }
        SetError(errorText, ApiError(L"StartService 失败: ", err));
        return false;
    }
    return true;
}

bool StopTunnelService(std::wstring* errorText, uint32_t* finalState) {
    UniqueScHandle manager, service;
    if (!OpenForControl(SERVICE_STOP | SERVICE_QUERY_STATUS, &manager, &service, errorText)) return false;
    SERVICE_STATUS status = {};
    DWORD known = SERVICE_STOP_PENDING;
    if (!ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) {
        DWORD err = GetLastError();
        if (err != ERROR_SERVICE_NOT_ACTIVE) {
            SetError(errorText, ApiError(L"ControlService(STOP) 失败: ", err));
            return false;
        }
        known = SERVICE_STOPPED;
    }
    DWORD state = WaitForStopped(service.get(), 40, known);
    if (finalState != nullptr) *finalState = state;
    return true;
}

bool DeleteTunnelService(std::wstring* errorText, bool* existed) {
    if (existed != nullptr) *existed = false;
    UniqueScHandle manager = OpenManager(SC_MANAGER_CONNECT);
    if (!manager) {
        DWORD err = GetLastError();
        SetError(errorText, ApiError(L"OpenSCManager 失败: ", err) + L"（需要管理员）");
        return false;
    }
    UniqueScHandle service(OpenServiceW(manager.get(), kServiceName, DELETE | SERVICE_STOP | SERVICE_QUERY_STATUS));
    if (!service) {
        DWORD err = GetLastError();
        if (err == ERROR_SERVICE_DOES_NOT_EXIST) return true;
        SetError(errorText, ApiError(L"OpenService(DELETE) 失败: ", err));
        return false;
    }
    if (existed != nullptr) *existed = true;
    SERVICE_STATUS status = {};
    ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
    WaitForStopped(service.get(), 20);
    if (!DeleteService(service.get())) {
        DWORD err = GetLastError();
        if (err == ERROR_SERVICE_MARKED_FOR_DELETE) return true;
        SetError(errorText, ApiError(L"DeleteService 失败: ", err));
        return false;
    }
    return true;
}

int RunStartCommand() {
    std::wstring error;
    if (!StartTunnelService(&error)) {
        WriteErr(error);
        return 5;
    }
    Sleep(800);
    uint32_t state = 0;
    if (QueryTunnelServiceState(&state)) WriteOut(L"状态: " + ServiceStateName(state));
    return 0;
}

int RunStopCommand() {
    std::wstring error;
    uint32_t state = 0;
    if (!StopTunnelService(&error, &state)) {
        WriteErr(error);
        return 5;
    }
    CommandReport report = StopCommandReport(state);
    Print(report);
    return report.exitCode;
}

int RunRestartCommand() {
    std::wstring error;
    uint32_t state = 0;
    if (!StopTunnelService(&error, &state)) {
        // A service that is not there or cannot be controlled cannot be started either: the start says why.
        state = SERVICE_STOPPED;
    }
    bool started = false;
    bool alreadyRunning = false;
    if (state == SERVICE_STOPPED) {
        Sleep(500);
        error.clear();
        started = StartTunnelService(&error, &alreadyRunning);
    }
    CommandReport report = RestartCommandReport(state, started, alreadyRunning, error);
    Print(report);
    return report.exitCode;
}

}  // namespace mw
