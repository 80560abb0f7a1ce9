// The "clientcmd" instructions: argument rules and the printed lines.
#include "app/client_commands.h"

#include <cstdint>

#include "base/console.h"
#include "base/text.h"

namespace mw {

namespace {

const wchar_t kDefaultHost[] = L"rdp.example.com";
const int32_t kDefaultPort = 13389;

// Like the runtime's wide atoi (blanks, a sign, digits up to the first non-digit, 0 without any),
// but saturating: a huge number must not wrap around into a valid port.
int32_t ParsePort(const std::wstring& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == L' ' || (text[i] >= L'\t' && text[i] <= L'\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) {
        negative = text[i] == L'-';
        ++i;
    }
    int64_t value = 0;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
        value = value * 10 + (text[i] - L'0');
        if (value > INT32_MAX) {
            value = int64_t(INT32_MAX) + 1;
        }
    }
    if (negative) value = -value;
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(value);
}

}  // namespace

std::vector<std::wstring> ClientCommandLines(const std::vector<std::wstring>& args) {
    std::wstring host = kDefaultHost;
    int32_t port = kDefaultPort;
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] == L"--port") {
            if (i + 1 < args.size()) port = ParsePort(args[++i]);
        } else if (!StartsWithNoCase(args[i], L"--")) {
            host = args[i];
        }
    }
    if (port < 1 || port > 65535) port = kDefaultPort;
    const std::wstring p = FormatText(L"%d", static_cast<int>(port));
    return {
        L"在【另一台电脑】（你要用来连过去的那台）上执行：",
        L"",
        L"  1) 装一份 cloudflared（Win10/11 直接用最新版即可）",
        L"  2) 建本地隧道口：",
        L"       cloudflared access rdp --hostname " + host + L" --url rdp://localhost:" + p,
        L"  3) 另开一个窗口连桌面：",
        L"       mstsc /v:127.0.0.1:" + p,
        L"",
        L"说明：",
        L"  - access 进程要一直开着，关掉就断；建议做成开机自启",
        L"  - 本地端口故意不用 3389，避免和客户端自己的远程桌面服务撞车",
        L"  - 首次连接会弹浏览器，用 Access 策略里放行的身份登录一次，令牌会缓存",
        L"  - 走 SSH 就把 rdp 换成 ssh，端口换成 22，然后 ssh -p " + p + L" user@127.0.0.1",
    };
}

void PrintClientCommands(const std::vector<std::wstring>& args) {
    for (const std::wstring& line : ClientCommandLines(args)) WriteOut(line);
}

}  // namespace mw
