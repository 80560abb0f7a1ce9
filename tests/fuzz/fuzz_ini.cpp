// INI bytes -> text -> entries -> settings: never crashes, and the loaded record keeps its invariants.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "config/ini_reader.h"
#include "config/loader.h"

namespace {

void Require(bool condition) {
    if (!condition) std::abort();
}

bool HasUpperAscii(const std::wstring& text) {
    for (wchar_t c : text) {
        if (c >= L'A' && c <= L'Z') return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    std::vector<mw::IniEntry> entries;
    mw::ParseIniText(mw::DecodeIniBytes(bytes), entries);
    mw::Config config;
    mw::ApplyIniEntries(entries, L"C:\\app\\mosswarden.ini", config);
    const auto& c = config.cloudflared;
    const auto& s = config.supervisor;
    Require(!c.exe.empty());
    Require(c.chunks >= 1 && c.chunks <= 16);
    Require(c.stall_timeout >= 10);
    Require(c.progress_interval >= 1);
    Require(s.restart_delay >= 1);
    Require(s.max_restart_delay >= s.restart_delay);
    Require(s.heartbeat_warn_sec >= 30);
    Require(config.tunnel.mode == L"token" || config.tunnel.mode == L"config");
    Require(config.routes.size() <= 32);
    Require(!HasUpperAscii(c.arch) && !HasUpperAscii(c.sha256));
    for (const auto& route : config.routes) Require(!route.hostname.empty() || !route.service.empty());
    Require(config.ini_path == L"C:\\app\\mosswarden.ini" && config.ini_dir == L"C:\\app");
    return 0;
}
