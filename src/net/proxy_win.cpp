// Reads the current user's Internet Options proxy values from the registry and logs the choice.
#include "net/proxy.h"

#include "base/handles.h"
#include "base/logger.h"

namespace mw {

namespace {

// A value that is missing or larger than its buffer counts as empty; the type is not examined.
std::wstring ReadStringValue(HKEY key, const wchar_t* name, size_t bufferBytes) {
    std::wstring buffer(bufferBytes / sizeof(wchar_t), L'\0');
    DWORD size = static_cast<DWORD>(bufferBytes);
    if (RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&buffer[0]), &size) != ERROR_SUCCESS) {
        return std::wstring();
    }
    size_t count = size / sizeof(wchar_t);
    if (count > buffer.size()) count = buffer.size();
    buffer.resize(count);
    return buffer;
}

SystemProxyValues ReadInternetSettings() {
    SystemProxyValues values;
    UniqueRegKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings", 0,
                      KEY_READ, key.put()) != ERROR_SUCCESS) {
        return values;
    }
    values.keyOpened = true;
    DWORD enable = 0;
    DWORD size = sizeof(enable);
    if (RegQueryValueExW(key.get(), L"ProxyEnable", nullptr, nullptr, reinterpret_cast<BYTE*>(&enable), &size) !=
        ERROR_SUCCESS) {
        enable = 0;
    }
    values.proxyEnable = enable;
    values.proxyServer = ReadStringValue(key.get(), L"ProxyServer", 2048);
    while (!values.proxyServer.empty() && (values.proxyServer.back() == L'\0' || values.proxyServer.back() == L' ')) {
        values.proxyServer.pop_back();
    }
    values.autoConfigUrl = ReadStringValue(key.get(), L"AutoConfigURL", 4096);
    values.proxyOverride = ReadStringValue(key.get(), L"ProxyOverride", 8192);
    while (!values.proxyOverride.empty() && values.proxyOverride.back() == L'\0') values.proxyOverride.pop_back();
    while (!values.autoConfigUrl.empty() && values.autoConfigUrl.back() == L'\0') values.autoConfigUrl.pop_back();
    return values;
}

}  // namespace

std::wstring ReadSystemProxy(std::wstring* note) { return DecideSystemProxy(ReadInternetSettings(), note); }

ProxyChoice DecideProxy(const std::wstring& setting) {
    SystemProxyValues system;
    if (IsAutoProxySetting(setting)) system = ReadInternetSettings();
    return ChooseProxy(setting, system);
}

ProxyChoice SelectProxy(const std::wstring& setting) {
    ProxyChoice choice = DecideProxy(setting);
    if (!choice.logText.empty()) Logger::Instance().Write(L"INFO", choice.logText);
    return choice;
}

}  // namespace mw
