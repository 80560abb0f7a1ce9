// The settings loader's pure part: key mapping, clamps, path resolution and route enumeration.
#include "config/loader.h"

#include "base/paths.h"
#include "base/text.h"

namespace mw {

namespace {

constexpr int kMaxRouteNumber = 32;
constexpr int32_t kMaxChunks = 16;  // the download engine's segment limit
constexpr int32_t kMinStallTimeout = 10;
constexpr int32_t kMinHeartbeatWarnSec = 30;
constexpr int32_t kMinUnreadyRestartSec = 30;
constexpr int32_t kMaxUnreadyRestartSec = 86400;

std::wstring Text(const std::vector<IniEntry>& entries, const wchar_t* section, const std::wstring& key,
                  const std::wstring& defaultValue) {
    return TrimText(IniGetString(entries, section, key, defaultValue));
}

void ReadRoutes(const std::vector<IniEntry>& entries, std::vector<RouteEntry>& routes) {
    routes.clear();
    const wchar_t* section = L"routes";
    // Every number is examined: a gap does not end the list.
    for (int n = 1; n <= kMaxRouteNumber; ++n) {
        const std::wstring prefix = FormatText(L"%d_", n);
        RouteEntry route;
        route.hostname = Text(entries, section, prefix + L"hostname", std::wstring());
        route.service = Text(entries, section, prefix + L"service", std::wstring());
        route.path = Text(entries, section, prefix + L"path", std::wstring());
        if (route.hostname.empty() && route.service.empty()) continue;
        route.no_tls_verify = IniGetBool(entries, section, prefix + L"no_tls_verify", false);
        route.disable_chunked_encoding = IniGetBool(entries, section, prefix + L"disable_chunked_encoding", false);
        route.http_host_header = Text(entries, section, prefix + L"http_host_header", std::wstring());
        route.origin_server_name = Text(entries, section, prefix + L"origin_server_name", std::wstring());
        route.connect_timeout = Text(entries, section, prefix + L"connect_timeout", std::wstring());
        routes.push_back(route);
    }
}

}  // namespace

const IniEntry* FindControlCharacter(const std::vector<IniEntry>& entries) {
    for (const IniEntry& entry : entries) {
        for (wchar_t c : entry.value) {
            if (c < 0x20 && c != L'\t') return &entry;
        }
    }
    return nullptr;
}

std::wstring ResolvePath(const std::wstring& baseDir, const std::wstring& value) {
    if (value.empty() || IsAbsolutePath(value)) return value;
    return JoinPath(baseDir, value);
}

void ApplyIniEntries(const std::vector<IniEntry>& entries, const std::wstring& iniPath, Config& config) {
    config.ini_path = iniPath;
    config.ini_dir = DirectoryOf(iniPath);
    const std::wstring& dir = config.ini_dir;
    const std::wstring none;

    CloudflaredSettings& cf = config.cloudflared;
    const wchar_t* s = L"cloudflared";
    cf.version = Text(entries, s, L"version", cf.version);
    cf.exe = Text(entries, s, L"exe", cf.exe);
    cf.arch = ToLowerAscii(Text(entries, s, L"arch", cf.arch));
    cf.url = Text(entries, s, L"url", none);
    cf.sha256 = ToLowerAscii(Text(entries, s, L"sha256", none));
    cf.proxy = Text(entries, s, L"proxy", none);
    cf.mirrors = Text(entries, s, L"mirrors", none);
    cf.timeout = IniGetInt(entries, s, L"timeout", cf.timeout);
    cf.chunks = IniGetInt(entries, s, L"chunks", cf.chunks);
    cf.stall_timeout = IniGetInt(entries, s, L"stall_timeout", cf.stall_timeout);
    cf.progress_interval = IniGetInt(entries, s, L"progress_interval", cf.progress_interval);
    if (cf.chunks < 1) cf.chunks = 1;
    if (cf.chunks > kMaxChunks) cf.chunks = kMaxChunks;
    // 0 turns the stall check off; any other value is at least the minimum.
    if (cf.stall_timeout != 0 && cf.stall_timeout < kMinStallTimeout) cf.stall_timeout = kMinStallTimeout;
    if (cf.progress_interval < 1) cf.progress_interval = 1;
    cf.reuse = IniGetBool(entries, s, L"reuse", cf.reuse);
    cf.sha_required = IniGetBool(entries, s, L"sha_required", cf.sha_required);

    TunnelSettings& tunnel = config.tunnel;
    s = L"tunnel";
    tunnel.mode = ToLowerAscii(Text(entries, s, L"mode", tunnel.mode));
    tunnel.token = Text(entries, s, L"token", none);
    tunnel.config_file = ResolvePath(dir, Text(entries, s, L"config_file", tunnel.config_file));
    tunnel.tunnel_id = Text(entries, s, L"tunnel_id", none);
    tunnel.credentials = ResolvePath(dir, Text(entries, s, L"credentials", none));
    tunnel.extra_args = Text(entries, s, L"extra_args", none);

    ReadRoutes(entries, config.routes);

    SupervisorSettings& sup = config.supervisor;
    s = L"supervisor";
    sup.restart_delay = IniGetInt(entries, s, L"restart_delay", sup.restart_delay);
    sup.max_restart_delay = IniGetInt(entries, s, L"max_restart_delay", sup.max_restart_delay);
    // An empty log_dir means the INI folder, never the current directory.
    std::wstring logDir = Text(entries, s, L"log_dir", sup.log_dir);
    sup.log_dir = logDir.empty() ? dir : ResolvePath(dir, logDir);
    sup.log_rotate_mb = IniGetInt(entries, s, L"log_rotate_mb", sup.log_rotate_mb);
    sup.heartbeat_warn_sec = IniGetInt(entries, s, L"heartbeat_warn_sec", sup.heartbeat_warn_sec);
    // Present but empty turns the readiness watch off.
    sup.metrics = Text(entries, s, L"metrics", sup.metrics);
    sup.unready_restart_sec = IniGetInt(entries, s, L"unready_restart_sec", sup.unready_restart_sec);

    if (cf.exe.empty()) cf.exe = L"cloudflared.exe";
    if (tunnel.mode != L"token" && tunnel.mode != L"config") tunnel.mode = L"token";
    if (sup.restart_delay < 1) sup.restart_delay = 1;
    if (sup.max_restart_delay < sup.restart_delay) sup.max_restart_delay = sup.restart_delay;
    if (sup.heartbeat_warn_sec < kMinHeartbeatWarnSec) sup.heartbeat_warn_sec = kMinHeartbeatWarnSec;
    if (sup.unready_restart_sec != 0) {
        if (sup.unready_restart_sec < kMinUnreadyRestartSec) sup.unready_restart_sec = kMinUnreadyRestartSec;
        if (sup.unready_restart_sec > kMaxUnreadyRestartSec) sup.unready_restart_sec = kMaxUnreadyRestartSec;
    }
}

}  // namespace mw
