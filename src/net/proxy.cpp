// Which proxy a download uses: the pure choice over the setting and the Internet Options values.
#include "net/proxy.h"

#include "base/text.h"

namespace mw {

std::wstring ChooseFromProxyList(const std::wstring& proxyServer) {
    std::wstring result;
    size_t start = 0;
    while (start <= proxyServer.size()) {
        size_t end = proxyServer.find(L';', start);
        if (end == std::wstring::npos) end = proxyServer.size();
        std::wstring entry = proxyServer.substr(start, end - start);
        size_t eq = entry.find(L'=');
        if (eq != std::wstring::npos) {
            std::wstring scheme = ToLowerAscii(entry.substr(0, eq));
            std::wstring value = TrimText(entry.substr(eq + 1));
            if (!value.empty()) {
                if (scheme == L"https") {
                    result = value;
                } else if (scheme == L"http" && result.empty()) {
                    result = value;
                }
            }
        } else if (!entry.empty() && result.empty()) {
            result = entry;
        }
        start = end + 1;
    }
    return result;
}

std::wstring DecideSystemProxy(const SystemProxyValues& values, std::wstring* note) {
    std::wstring text;
    std::wstring result;
    if (!values.keyOpened) {
        text = L"读不到 Internet Settings";
    } else {
        if (values.proxyEnable != 0 && !values.proxyServer.empty()) result = ChooseFromProxyList(values.proxyServer);
        if (!result.empty()) {
            text = L"系统代理 " + result;
        } else if (!values.autoConfigUrl.empty()) {
            text = L"检测到 PAC (" + values.autoConfigUrl + L")，Win7 的 WinHTTP 无法执行 PAC，请显式配 proxy=";
        } else {
            text = L"系统未启用代理，直连";
        }
    }
    if (note) *note = text;
    return result;
}

bool IsAutoProxySetting(const std::wstring& setting) { return ToLowerAscii(TrimText(setting)) == L"auto"; }

ProxyChoice ChooseProxy(const std::wstring& setting, const SystemProxyValues& system) {
    ProxyChoice choice;
    if (IsAutoProxySetting(setting)) {
        std::wstring note;
        choice.proxy = DecideSystemProxy(system, &note);
        choice.logText = choice.proxy.empty() ? L"代理: " + note : L"代理: " + note + L" → 使用 " + choice.proxy;
        return choice;
    }
    std::wstring trimmed = TrimText(setting);
    if (!trimmed.empty()) {
        choice.proxy = setting;
        choice.logText = L"代理: 使用配置 " + trimmed;
    }
    return choice;
}

}  // namespace mw
