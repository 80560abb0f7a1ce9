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
        if (!choice.proxy.empty()) choice.bypass = system.proxyOverride;
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

std::wstring UrlHost(const std::wstring& url) {
    size_t start = url.find(L"://");
    start = start == std::wstring::npos ? 0 : start + 3;
    size_t end = url.find_first_of(L"/?#", start);
    std::wstring authority = url.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
    size_t at = authority.rfind(L'@');
    if (at != std::wstring::npos) authority = authority.substr(at + 1);
    std::wstring host;
    if (!authority.empty() && authority[0] == L'[') {
        size_t close = authority.find(L']');
        host = authority.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1);
    } else {
        host = authority.substr(0, authority.find(L':'));
    }
    return ToLowerAscii(host);
}

namespace {

// "*" matches any run of characters; both sides are already folded to lower case.
bool WildcardMatch(const std::wstring& pattern, const std::wstring& text) {
    size_t p = 0, t = 0, star = std::wstring::npos, mark = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == L'*') {
            star = p++;
            mark = t;
        } else if (p < pattern.size() && pattern[p] == text[t]) {
            ++p;
            ++t;
        } else if (star != std::wstring::npos) {
            p = star + 1;
            t = ++mark;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == L'*') ++p;
    return p == pattern.size();
}

}  // namespace

bool HostBypassesProxy(const std::wstring& host, const std::wstring& bypass) {
    const std::wstring folded = ToLowerAscii(TrimText(host));
    if (folded.empty()) return false;
    size_t start = 0;
    while (start <= bypass.size()) {
        size_t end = bypass.find(L';', start);
        if (end == std::wstring::npos) end = bypass.size();
        std::wstring entry = ToLowerAscii(TrimText(bypass.substr(start, end - start)));
        start = end + 1;
        if (entry.empty()) continue;
        if (entry == L"<local>") {
            if (folded.find(L'.') == std::wstring::npos && folded.find(L':') == std::wstring::npos) return true;
            continue;
        }
        // Entries may carry a scheme ("http://intra"); the host part is what is compared.
        size_t scheme = entry.find(L"://");
        if (scheme != std::wstring::npos) entry = entry.substr(scheme + 3);
        if (WildcardMatch(entry, folded)) return true;
    }
    return false;
}

std::wstring ProxyBypassedText(const std::wstring& host) { return L"代理: " + host + L" 在系统的代理例外列表里，直连"; }

std::wstring ProxyForUrl(const ProxyChoice& choice, const std::wstring& url) {
    if (choice.proxy.empty() || choice.bypass.empty()) return choice.proxy;
    return HostBypassesProxy(UrlHost(url), choice.bypass) ? std::wstring() : choice.proxy;
}

}  // namespace mw
