// The "status" report: gathers the facts from the service manager, the files and the connector.
#include "winsvc/status.h"

#include "base/console.h"
#include "base/file_access.h"
#include "base/handles.h"
#include "base/logger.h"
#include "base/paths.h"
#include "base/process.h"
#include "base/text.h"
#include "base/win.h"
#include "config/loader.h"
#include "config/settings.h"
#include "config/token.h"
#include "provision/pe_machine.h"
#include "supervisor/readiness_win.h"
#include "supervisor/run_state.h"
#include "winsvc/service_control.h"

namespace mw {

std::vector<std::wstring> ReadLogTail(const std::wstring& path, int32_t maxLines) {
    // Shared for writing too: the logger of a running service may be appending.
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return {};
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(file.get(), &size) || size.QuadPart < 0) return {};
    uint64_t total = static_cast<uint64_t>(size.QuadPart);
    uint64_t start = LogTailStart(total);
    LARGE_INTEGER position = {};
    position.QuadPart = static_cast<LONGLONG>(start);
    if (!SetFilePointerEx(file.get(), position, nullptr, FILE_BEGIN)) return {};
    // Bytes appended after the size was taken are left for the next report.
    std::string bytes(static_cast<size_t>(total - start), '\0');
    DWORD got = 0;
    if (!bytes.empty() && !ReadFile(file.get(), &bytes[0], static_cast<DWORD>(bytes.size()), &got, nullptr)) return {};
    bytes.resize(got);
    file.reset();
    return SplitLogTail(bytes, maxLines);
}

namespace {

uint64_t ToU64(const FILETIME& t) { return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime; }

// The service log and every daily log of the folder, with their last-write times.
std::vector<std::pair<std::wstring, uint64_t>> LogCandidates(const std::wstring& logDir) {
    std::vector<std::pair<std::wstring, uint64_t>> found;
    WIN32_FIND_DATAW data;
    UniqueFind find(FindFirstFileW(JoinPath(logDir, std::wstring(kLogBaseName) + L"*.log").c_str(), &data));
    if (!find) return found;
    do {
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            found.emplace_back(JoinPath(logDir, data.cFileName), ToU64(data.ftLastWriteTime));
        }
    } while (FindNextFileW(find.get(), &data));
    return found;
}

// The state file of a supervisor that still runs; false when there is none.
bool ReadLiveRunState(const std::wstring& logDir, RunState* state) {
    std::string text;
    if (!ReadWholeFile(JoinPath(logDir, kRunStateFileName), text)) return false;
    if (!ParseRunState(text, state)) return false;
    UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, state->supervisorPid));
    return process && WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
}

}  // namespace

void PrintStatus() {
    uint32_t state = 0;
    std::wstring serviceError;
    if (QueryTunnelServiceState(&state, &serviceError)) {
        WriteOut(L"服务 mosswarden: " + ServiceStateName(state));
    } else {
        WriteOut(L"服务 mosswarden: " + serviceError);
    }
    WriteOut(L"程序路径: " + ModulePath());
    std::wstring iniPath = DefaultIniPath();
    bool iniExists = FileExists(iniPath);
    WriteOut(L"配置文件: " + iniPath + (iniExists ? L"" : L"（不存在）"));
    if (!iniExists) {
        WriteOut(L"尚未初始化：先跑 --ini 生成配置，再跑 --install");
        return;
    }
    Config config;
    std::wstring loadError;
    if (!LoadConfig(iniPath, config, &loadError)) {
        WriteOut(L"配置读取失败: " + loadError);
        return;
    }

    std::wstring connector = JoinPath(config.ini_dir, config.cloudflared.exe);
    uint64_t connectorSize = 0;
    if (FileExists(connector, &connectorSize)) {
        WriteOut(FormatText(L"cloudflared: %s (%Iu 字节, %s)", connector.c_str(), static_cast<size_t>(connectorSize),
                            DetectPeMachine(connector).c_str()));
        std::wstring version;
        if (RunAndCapture(connector, L"--version", 15000, &version)) WriteOut(L"版本: " + TrimText(version));
    } else {
        WriteOut(L"cloudflared: 尚未下载（" + connector + L"）");
    }

    WriteOut(FormatText(L"隧道模式: %s，token: %s", config.tunnel.mode.c_str(), MaskToken(config.tunnel.token).c_str()));
    if (config.tunnel.mode == L"token" && !config.tunnel.token.empty()) {
        TokenFacts token = InspectToken(config.tunnel.token);
        WriteOut(token.wellFormed ? L"隧道 ID: " + token.tunnelId : TokenFormatWarning(token));
    }
    RunState runState;
    const bool running = ReadLiveRunState(config.supervisor.log_dir, &runState);
    ReadyAnswer live;
    const std::wstring readyUrl = ReadyUrl(config.supervisor.metrics);
    if (running && !readyUrl.empty()) live = QueryReady(readyUrl);
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    for (const std::wstring& line :
         TunnelStatusLines(running ? &runState : nullptr, running && !readyUrl.empty() ? &live : nullptr, ToU64(now))) {
        WriteOut(line);
    }
    for (const std::wstring& warning : InstallAccessWarnings(ModulePath(), connector, iniPath)) WriteOut(warning);

    // The log written last: a daemon started yesterday still writes yesterday's file.
    std::wstring logPath = NewestLog(LogCandidates(config.supervisor.log_dir),
                                     JoinPath(config.supervisor.log_dir, DailyLogFileName(kLogBaseName, LocalDateStamp())));
    WriteOut(L"日志: " + logPath);
    std::vector<std::wstring> tail = ReadLogTail(logPath, 12);
    if (tail.empty()) {
        WriteOut(L"(日志为空)");
        return;
    }
    for (const std::wstring& line : tail) WriteOut(L"  " + line);
}

}  // namespace mw
