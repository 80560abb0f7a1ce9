// Which proxy a download uses: none, an explicit one, or the current user's Internet Options ("auto").
#pragma once

#include <cstdint>
#include <string>

namespace mw {

// The values read from HKCU\...\Internet Settings; keyOpened false when the key could not be read.
struct SystemProxyValues {
    bool keyOpened = false;
    uint32_t proxyEnable = 0;
    std::wstring proxyServer;
    std::wstring autoConfigUrl;
    std::wstring proxyOverride;  // the bypass list: ";"-separated host patterns and "<local>"
};

// The usable entry of a ProxyServer list: https= wins, then the first http=, then the first bare entry.
std::wstring ChooseFromProxyList(const std::wstring& proxyServer);
// The system proxy (possibly empty) and the note that says what was found.
std::wstring DecideSystemProxy(const SystemProxyValues& values, std::wstring* note);
// True when the trimmed setting, folded to lower case, is "auto".
bool IsAutoProxySetting(const std::wstring& setting);

// The effective proxy for a setting and the INFO line to log about it (empty: log nothing).
// The system values are used only for "auto".
struct ProxyChoice {
    std::wstring proxy;
    std::wstring logText;
    std::wstring bypass;  // the system's bypass list, only with a system proxy
};
ProxyChoice ChooseProxy(const std::wstring& setting, const SystemProxyValues& system);

// The host of an http(s) URL, folded to lower case, without user info, port or brackets.
std::wstring UrlHost(const std::wstring& url);
// True when the bypass list (ProxyOverride) sends host direct, as browsers do: entries are
// separated by ";", "*" matches any run of characters, case does not matter, and "<local>"
// matches every host name without a dot.
bool HostBypassesProxy(const std::wstring& host, const std::wstring& bypass);
// "代理: " + host + " 在系统的代理例外列表里，直连"
std::wstring ProxyBypassedText(const std::wstring& host);
// The proxy a request to url uses: none when its host is on the choice's bypass list.
std::wstring ProxyForUrl(const ProxyChoice& choice, const std::wstring& url);

// Reads Internet Options; returns the proxy found (possibly empty) and the note.
std::wstring ReadSystemProxy(std::wstring* note = nullptr);
// The choice for the raw setting, reading Internet Options only for "auto"; logs nothing.
ProxyChoice DecideProxy(const std::wstring& setting);
// The choice for the raw setting; logs the decision at INFO.
ProxyChoice SelectProxy(const std::wstring& setting);

}  // namespace mw
