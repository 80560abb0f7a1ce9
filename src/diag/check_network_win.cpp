// The network check's request and the "checknet" command.
#include "diag/check_network.h"

#include "base/console.h"
#include "base/paths.h"
#include "base/text.h"
#include "base/win.h"
#include "config/loader.h"
#include "net/body.h"
#include "net/http.h"
#include "net/http_text.h"
#include "net/proxy.h"

namespace mw {

namespace {

const int kCheckTimeoutSeconds = 60;

bool GetSmall(HttpRequest& request, const std::wstring& url, const std::wstring& proxy, int timeoutSeconds,
              std::string* body, std::wstring* error, uint32_t* status, uint32_t* errorCode) {
    std::wstring text;
    if (!request.Open(url, proxy, timeoutSeconds, &text) || !request.Send(0, 0, false, &text)) {
        if (errorCode) *errorCode = request.ErrorCode();
        return Fail(error, text);
    }
    uint32_t code = request.StatusCode();
    if (status) *status = code;
    if (code < 200 || code > 299) return Fail(error, HttpStatusText(unsigned(code)));

    std::string bytes;
    BodyCopy copy;
    copy.memory = &bytes;
    copy.want = kCheckNetBodyLimit + 1;
    copy.timeoutSeconds = timeoutSeconds;
    copy.readError = errorCode;
    if (!CopyBody(request, copy, nullptr, &text)) return Fail(error, text);
    if (body) *body = std::move(bytes);
    return true;
}

}  // namespace

bool HttpGetSmall(const std::wstring& url, const std::wstring& proxy, int timeoutSeconds, std::string* body,
                  std::wstring* error, uint32_t* status, uint32_t* errorCode) {
    HttpRequest request;
    bool ok = GetSmall(request, url, proxy, timeoutSeconds, body, error, status, errorCode);
    request.Close();
    return ok;
}

int CheckNetwork(const std::vector<std::wstring>& args, const std::wstring& iniPath) {
    const std::wstring url = CheckNetUrl(args);
    // The downloads' proxy choice; a missing or unreadable INI leaves the default (no proxy).
    Config config;
    if (FileExists(iniPath)) LoadConfig(iniPath, config);
    ProxyChoice choice = DecideProxy(config.cloudflared.proxy);
    WriteOut(CheckNetProxyLine(choice.logText));
    const std::wstring proxy = ProxyForUrl(choice, url);
    if (proxy.empty() && !choice.proxy.empty()) WriteOut(ProxyBypassedText(UrlHost(url)));
    const ULONGLONG start = GetTickCount64();
    std::string body;
    std::wstring error;
    uint32_t status = 0;
    uint32_t errorCode = 0;
    if (!HttpGetSmall(url, proxy, kCheckTimeoutSeconds, &body, &error, &status, &errorCode)) {
        WriteErr(CheckNetFailureLine(error));
        for (const std::wstring& line : CheckNetHints(errorCode, status, !proxy.empty())) WriteErr(line);
        return 1;
    }
    const uint32_t elapsed = static_cast<uint32_t>(GetTickCount64() - start);
    for (const std::wstring& line : CheckNetSuccessLines(status, body, elapsed)) WriteOut(line);
    return 0;
}

}  // namespace mw
