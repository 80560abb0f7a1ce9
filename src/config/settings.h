// The settings record: every tunable value, named by its INI key, with its default.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/logger.h"

namespace mw {

struct CloudflaredSettings {
    std::wstring version = L"2023.10.0";
    std::wstring exe = L"cloudflared.exe";
    std::wstring arch = L"auto";
    std::wstring url;
    std::wstring sha256;
    std::wstring proxy;
    std::wstring mirrors;
    int32_t timeout = 600;
    int32_t chunks = 4;
    int32_t stall_timeout = 60;
    int32_t progress_interval = 3;
    bool reuse = true;
    bool sha_required = false;
};

struct TunnelSettings {
    std::wstring mode = L"token";
    std::wstring token;
    std::wstring config_file = L"config.yml";
    std::wstring tunnel_id;
    std::wstring credentials;
    std::wstring extra_args;
};

struct RouteEntry {
    std::wstring hostname;
    std::wstring path;
    std::wstring service;
    bool no_tls_verify = false;
    bool disable_chunked_encoding = false;
    std::wstring http_host_header;
    std::wstring origin_server_name;
    std::wstring connect_timeout;
};

struct SupervisorSettings {
    int32_t restart_delay = 5;
    int32_t max_restart_delay = 300;
    std::wstring log_dir = L"logs";
    int32_t log_rotate_mb = 16;
    int32_t heartbeat_warn_sec = 180;
    std::wstring metrics = L"127.0.0.1:20241";
    int32_t unready_restart_sec = 300;
};

struct Config {
    CloudflaredSettings cloudflared;
    TunnelSettings tunnel;
    std::vector<RouteEntry> routes;  // at most 32, in the order of their entry numbers
    SupervisorSettings supervisor;
    std::wstring ini_path;
    std::wstring ini_dir;
};

// The service's fixed log file and the daily log of the console runs, in log_dir.
LogTarget ServiceLog(const Config& config);
LogTarget DailyLog(const Config& config, bool echo);

// The process-wide current settings. Read and replaced only on the command or supervisor thread.
Config& CurrentConfig();

}  // namespace mw
