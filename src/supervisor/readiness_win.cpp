// Asks the local connector's metrics server for /ready, directly and with short time-outs.
#include "supervisor/readiness_win.h"

#include "base/console.h"
#include "base/handles.h"
#include "base/paths.h"
#include "base/text.h"
#include "config/loader.h"
#include "net/http_text.h"

namespace mw {

ReadyAnswer QueryReady(const std::wstring& readyUrl) {
    ReadyAnswer answer;
    if (readyUrl.empty()) return answer;
    URL_COMPONENTS parts = {};
    wchar_t host[256] = {};
    wchar_t path[256] = {};
    parts.dwStructSize = sizeof(parts);
    parts.lpszHostName = host;
    parts.dwHostNameLength = 256;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = 256;
    if (!WinHttpCrackUrl(readyUrl.c_str(), static_cast<DWORD>(readyUrl.size()), 0, &parts)) {
        DWORD err = GetLastError();
        answer.error = NetErrorText(err);
        return answer;
    }
    // Never through a proxy: the address is this machine's own connector.
    UniqueInternet session(
        WinHttpOpen(kHttpUserAgent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) {
        DWORD err = GetLastError();
        answer.error = NetErrorText(err);
        return answer;
    }
    WinHttpSetTimeouts(session.get(), 1000, 1000, 1000, 1000);
    UniqueInternet connection(WinHttpConnect(session.get(), host, parts.nPort, 0));
    UniqueInternet request(connection ? WinHttpOpenRequest(connection.get(), L"GET", path, nullptr, WINHTTP_NO_REFERER,
                                                           WINHTTP_DEFAULT_ACCEPT_TYPES, 0)
                                      : nullptr);
    if (!request || !WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !WinHttpReceiveResponse(request.get(), nullptr)) {
        DWORD err = GetLastError();
        answer.error = NetErrorText(err);
        return answer;
    }
    DWORD status = 0;
    DWORD size = sizeof(status);
    WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                        &status, &size, WINHTTP_NO_HEADER_INDEX);
    answer.answered = true;
    answer.status = status;
    // The body is a short JSON object; a few KiB are plenty.
    std::string body;
    char buffer[1024];
    DWORD got = 0;
    while (body.size() < 8192 && WinHttpReadData(request.get(), buffer, sizeof(buffer), &got) && got > 0) {
        body.append(buffer, got);
    }
    int32_t count = 0;
    if (ParseReadyConnections(body, &count)) answer.connections = count;
    return answer;
}

int RunHealthCommand(const std::wstring& iniPath) {
    Config config;
    std::wstring error;
    // A missing INI means the defaults; nothing is written by this command.
    if (FileExists(iniPath) && !LoadConfig(iniPath, config, &error)) {
        WriteOut(L"健康: 未运行（" + error + L"）");
        return 2;
    }
    const std::wstring& metrics = config.supervisor.metrics;
    const std::wstring url = ReadyUrl(metrics);
    ReadyAnswer answer = QueryReady(url);
    if (!metrics.empty() && url.empty()) answer.error = L"不是本机的 主机:端口";
    WriteOut(HealthLine(answer, metrics));
    return HealthExitCode(answer);
}

}  // namespace mw
