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
};
ProxyChoice ChooseProxy(const std::wstring& setting, const SystemProxyValues& system);

// Reads Internet Options; returns the proxy found (possibly empty) and the note.
std::wstring ReadSystemProxy(std::wstring* note = nullptr);
// The choice for the raw setting, reading Internet Options only for "auto"; logs nothing.
ProxyChoice DecideProxy(const std::wstring& setting);
// The effective proxy for the raw setting; logs the decision at INFO.
std::wstring SelectProxy(const std::wstring& setting);

}  // namespace mw
