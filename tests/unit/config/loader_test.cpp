// Key mapping, clamps, mode fallback, path resolution and route enumeration of the loader.
#include "config/loader.h"

#include <gtest/gtest.h>

#include <functional>

#include "config/default_ini.h"

namespace mw {
namespace {

Config Load(const std::wstring& text, const std::wstring& iniPath = L"C:\\app\\mosswarden.ini") {
    std::vector<IniEntry> entries;
    ParseIniText(text, entries);
    Config config;
    ApplyIniEntries(entries, iniPath, config);
    return config;
}

TEST(Loader, ModeConfigAloneKeepsEveryOtherDefault) {
    Config config = Load(L"[tunnel]\nmode = Config\n");
    Config expected;
    expected.tunnel.mode = L"config";
    expected.tunnel.config_file = L"C:\\app\\config.yml";
    expected.supervisor.log_dir = L"C:\\app\\logs";
    expected.ini_path = L"C:\\app\\mosswarden.ini";
    expected.ini_dir = L"C:\\app";
    EXPECT_EQ(config.cloudflared.version, expected.cloudflared.version);
    EXPECT_EQ(config.cloudflared.exe, expected.cloudflared.exe);
    EXPECT_EQ(config.cloudflared.arch, expected.cloudflared.arch);
    EXPECT_EQ(config.cloudflared.timeout, 600);
    EXPECT_EQ(config.cloudflared.chunks, 4);
    EXPECT_EQ(config.cloudflared.stall_timeout, 60);
    EXPECT_EQ(config.cloudflared.progress_interval, 3);
    EXPECT_TRUE(config.cloudflared.reuse);
    EXPECT_FALSE(config.cloudflared.sha_required);
    EXPECT_EQ(config.tunnel.mode, expected.tunnel.mode);
    EXPECT_EQ(config.tunnel.config_file, expected.tunnel.config_file);
    EXPECT_EQ(config.tunnel.credentials, L"");
    EXPECT_TRUE(config.routes.empty());
    EXPECT_EQ(config.supervisor.restart_delay, 5);
    EXPECT_EQ(config.supervisor.max_restart_delay, 300);
    EXPECT_EQ(config.supervisor.log_dir, expected.supervisor.log_dir);
    EXPECT_EQ(config.supervisor.log_rotate_mb, 16);
    EXPECT_EQ(config.supervisor.heartbeat_warn_sec, 180);
    EXPECT_EQ(config.ini_path, expected.ini_path);
    EXPECT_EQ(config.ini_dir, expected.ini_dir);
}

TEST(Loader, ClampsAndFallbacks) {
    using Check = std::function<int32_t(const Config&)>;
    const Check chunks = [](const Config& c) { return c.cloudflared.chunks; };
    const Check stall = [](const Config& c) { return c.cloudflared.stall_timeout; };
    const Check progress = [](const Config& c) { return c.cloudflared.progress_interval; };
    const Check timeout = [](const Config& c) { return c.cloudflared.timeout; };
    const Check restart = [](const Config& c) { return c.supervisor.restart_delay; };
    const Check maxRestart = [](const Config& c) { return c.supervisor.max_restart_delay; };
    const Check heartbeat = [](const Config& c) { return c.supervisor.heartbeat_warn_sec; };
    const Check rotate = [](const Config& c) { return c.supervisor.log_rotate_mb; };
    const Check unready = [](const Config& c) { return c.supervisor.unready_restart_sec; };
    struct Case {
        const wchar_t* text;
        Check field;
        int32_t expected;
    } cases[] = {
        {L"[cloudflared]\nchunks=0", chunks, 1},
        {L"[cloudflared]\nchunks=99", chunks, 16},
        {L"[cloudflared]\nchunks=-3", chunks, 1},
        {L"[cloudflared]\nchunks=abc", chunks, 4},
        {L"[cloudflared]\nchunks=16", chunks, 16},
        {L"[cloudflared]\nstall_timeout=5", stall, 10},
        {L"[cloudflared]\nstall_timeout=-1", stall, 10},
        {L"[cloudflared]\nstall_timeout=0", stall, 0},
        {L"[cloudflared]\nprogress_interval=0", progress, 1},
        {L"[cloudflared]\ntimeout=0", timeout, 0},
        {L"[cloudflared]\ntimeout=-4", timeout, -4},
        {L"[supervisor]\nrestart_delay=0\nmax_restart_delay=0", restart, 1},
        {L"[supervisor]\nrestart_delay=0\nmax_restart_delay=0", maxRestart, 1},
        {L"[supervisor]\nrestart_delay=60\nmax_restart_delay=30", restart, 60},
        {L"[supervisor]\nrestart_delay=60\nmax_restart_delay=30", maxRestart, 60},
        {L"[supervisor]\nrestart_delay=600", maxRestart, 600},
        {L"[supervisor]\nheartbeat_warn_sec=0", heartbeat, 30},
        {L"[supervisor]\nlog_rotate_mb=0", rotate, 0},
        {L"[supervisor]\nunready_restart_sec=0", unready, 0},
        {L"[supervisor]\nunready_restart_sec=5", unready, 30},
        {L"[supervisor]\nunready_restart_sec=-5", unready, 30},
        {L"[supervisor]\nunready_restart_sec=999999", unready, 86400},
        {L"[supervisor]\nunready_restart_sec=120", unready, 120},
        {L"[supervisor]\nunready_restart_sec=x", unready, 300},
        // A key in the wrong section is not seen.
        {L"[supervisor]\nchunks=8", chunks, 4},
    };
    for (const Case& c : cases) EXPECT_EQ(c.field(Load(c.text)), c.expected) << c.text;
}

TEST(Loader, TextTreatments) {
    using Field = std::function<std::wstring(const Config&)>;
    const Field mode = [](const Config& c) { return c.tunnel.mode; };
    const Field exe = [](const Config& c) { return c.cloudflared.exe; };
    const Field arch = [](const Config& c) { return c.cloudflared.arch; };
    const Field sha = [](const Config& c) { return c.cloudflared.sha256; };
    const Field token = [](const Config& c) { return c.tunnel.token; };
    struct Case {
        const wchar_t* text;
        Field field;
        const wchar_t* expected;
    } cases[] = {
        {L"[tunnel]\nmode=TOKEN", mode, L"token"},
        {L"[tunnel]\nmode=tokens", mode, L"token"},
        {L"[tunnel]\nmode=", mode, L"token"},
        {L"[TUNNEL]\nMode = CONFIG ; local", mode, L"config"},
        {L"[cloudflared]\nexe=", exe, L"cloudflared.exe"},
        {L"[cloudflared]\nexe=C:\\tools\\cf.exe", exe, L"C:\\tools\\cf.exe"},
        {L"[cloudflared]\nexe=bin\\cf.exe", exe, L"bin\\cf.exe"},
        {L"[cloudflared]\narch= AMD64 ", arch, L"amd64"},
        {L"[cloudflared]\nsha256=ABCdef", sha, L"abcdef"},
        {L"[tunnel]\ntoken=eyJhIjoi=", token, L"eyJhIjoi="},
    };
    for (const Case& c : cases) EXPECT_EQ(c.field(Load(c.text)), c.expected) << c.text;
}

TEST(Loader, PathsResolveAgainstTheIniDirectory) {
    struct Case {
        const wchar_t* iniPath;
        const wchar_t* text;
        const wchar_t* iniDir;
        const wchar_t* logDir;
        const wchar_t* credentials;
        const wchar_t* configFile;
    } cases[] = {
        {L"C:\\app\\m.ini", L"", L"C:\\app", L"C:\\app\\logs", L"", L"C:\\app\\config.yml"},
        {L"C:\\app\\m.ini", L"[supervisor]\nlog_dir=D:\\logs\n[tunnel]\ncredentials=\\\\server\\share\\c.json",
         L"C:\\app", L"D:\\logs", L"\\\\server\\share\\c.json", L"C:\\app\\config.yml"},
        {L"C:\\app\\m.ini", L"[supervisor]\nlog_dir=..\\logs\n[tunnel]\ncredentials=/x/c.json\nconfig_file=\\y.yml",
         L"C:\\app", L"C:\\app\\..\\logs", L"C:\\app\\/x/c.json", L"C:\\app\\\\y.yml"},
        // An empty log_dir is the INI folder, not the current directory.
        {L"C:\\app\\m.ini", L"[supervisor]\nlog_dir= \n[tunnel]\nconfig_file=", L"C:\\app", L"C:\\app", L"", L""},
        {L"mosswarden.ini", L"", L".", L".\\logs", L"", L".\\config.yml"},
        {L"C:/a/b.ini", L"[tunnel]\ncredentials=c.json", L"C:/a", L"C:/a\\logs", L"C:/a\\c.json",
         L"C:/a\\config.yml"},
        {L"\\\\srv\\share\\m.ini", L"", L"\\\\srv\\share", L"\\\\srv\\share\\logs", L"",
         L"\\\\srv\\share\\config.yml"},
    };
    for (const Case& c : cases) {
        Config config = Load(c.text, c.iniPath);
        EXPECT_EQ(config.ini_path, c.iniPath);
        EXPECT_EQ(config.ini_dir, c.iniDir) << c.iniPath;
        EXPECT_EQ(config.supervisor.log_dir, c.logDir) << c.text;
        EXPECT_EQ(config.tunnel.credentials, c.credentials) << c.text;
        EXPECT_EQ(config.tunnel.config_file, c.configFile) << c.text;
    }
}

TEST(Loader, RouteEnumeration) {
    struct Case {
        const wchar_t* text;
        std::vector<std::pair<std::wstring, std::wstring>> expected;  // hostname, service
    } cases[] = {
        {L"2_hostname=a\n5_service=tcp://localhost:22", {{L"a", L""}, {L"", L"tcp://localhost:22"}}},
        {L"3_path=/x\n3_no_tls_verify=1", {}},
        {L"33_hostname=z\n0_hostname=z\n01_hostname=z", {}},
        {L"32_hostname=last\n1_service=first", {{L"", L"first"}, {L"last", L""}}},
        {L"1_hostname= \n1_service=\t", {}},
        {L"9_hostname=nine\n4_hostname=four", {{L"four", L""}, {L"nine", L""}}},
    };
    for (const Case& c : cases) {
        Config config = Load(L"[routes]\n" + std::wstring(c.text));
        ASSERT_EQ(config.routes.size(), c.expected.size()) << c.text;
        for (size_t i = 0; i < c.expected.size(); ++i) {
            EXPECT_EQ(config.routes[i].hostname, c.expected[i].first) << c.text;
            EXPECT_EQ(config.routes[i].service, c.expected[i].second) << c.text;
        }
    }
}

TEST(Loader, RouteFieldsAreReadCaseInsensitivelyAndKeptAsText) {
    Config config = Load(
        L"[ROUTES]\n1_HOSTNAME= h \n1_Path=/api\n1_service=https://127.0.0.1:8443\n1_no_tls_verify=YES\n"
        L"1_disable_chunked_encoding=maybe\n1_http_host_header=intra\n1_origin_server_name=sni\n"
        L"1_connect_timeout=abc\n");
    ASSERT_EQ(config.routes.size(), 1u);
    const RouteEntry& r = config.routes[0];
    EXPECT_EQ(r.hostname, L"h");
    EXPECT_EQ(r.path, L"/api");
    EXPECT_EQ(r.service, L"https://127.0.0.1:8443");
    EXPECT_TRUE(r.no_tls_verify);
    EXPECT_FALSE(r.disable_chunked_encoding);
    EXPECT_EQ(r.http_host_header, L"intra");
    EXPECT_EQ(r.origin_server_name, L"sni");
    EXPECT_EQ(r.connect_timeout, L"abc");
}

TEST(Loader, ReloadingReplacesTheRouteListAndEmptiesAbsentTexts) {
    Config config = Load(L"[routes]\n1_hostname=a\n2_hostname=b\n[tunnel]\ntoken=t\n[cloudflared]\nurl=u");
    std::vector<IniEntry> entries;
    ParseIniText(L"[routes]\n7_hostname=c", entries);
    ApplyIniEntries(entries, L"C:\\app\\mosswarden.ini", config);
    ASSERT_EQ(config.routes.size(), 1u);
    EXPECT_EQ(config.routes[0].hostname, L"c");
    EXPECT_EQ(config.tunnel.token, L"");
    EXPECT_EQ(config.cloudflared.url, L"");
}

TEST(Loader, ValuesWithControlCharactersAreFound) {
    struct Case {
        std::wstring value;
        bool refused;
    };
    const Case cases[] = {
        {L"plain", false},
        {L"tab\tinside", false},
        {L"esc\x1b[31m", true},
        {L"bell\x07", true},
        {std::wstring(L"nul\0x", 5), true},
        {L"del\x7f and 中文", false},
    };
    for (const Case& c : cases) {
        std::vector<IniEntry> entries = {{L"tunnel", L"mode", L"token"}, {L"tunnel", L"token", c.value}};
        const IniEntry* found = FindControlCharacter(entries);
        EXPECT_EQ(found != nullptr, c.refused) << c.value.size();
        if (found) {
            EXPECT_EQ(found->key, L"token");
        }
    }
}

TEST(Loader, ResolvePath) {
    EXPECT_EQ(ResolvePath(L"C:\\app", L""), L"");
    EXPECT_EQ(ResolvePath(L"C:\\app", L"D:\\x"), L"D:\\x");
    EXPECT_EQ(ResolvePath(L"C:\\app", L"x"), L"C:\\app\\x");
    EXPECT_EQ(ResolvePath(L"C:\\app\\", L"x"), L"C:\\app\\x");
}

TEST(Loader, TheTemplateLoadsToTheDefaults) {
    Config config = Load(DefaultIniTemplate());
    Config defaults;
    EXPECT_EQ(config.cloudflared.version, defaults.cloudflared.version);
    EXPECT_EQ(config.cloudflared.exe, defaults.cloudflared.exe);
    EXPECT_EQ(config.cloudflared.arch, defaults.cloudflared.arch);
    EXPECT_EQ(config.cloudflared.url, defaults.cloudflared.url);
    EXPECT_EQ(config.cloudflared.sha256, defaults.cloudflared.sha256);
    EXPECT_EQ(config.cloudflared.proxy, defaults.cloudflared.proxy);
    EXPECT_EQ(config.cloudflared.mirrors, defaults.cloudflared.mirrors);
    EXPECT_EQ(config.cloudflared.timeout, defaults.cloudflared.timeout);
    EXPECT_EQ(config.cloudflared.chunks, defaults.cloudflared.chunks);
    EXPECT_EQ(config.cloudflared.stall_timeout, defaults.cloudflared.stall_timeout);
    EXPECT_EQ(config.cloudflared.progress_interval, defaults.cloudflared.progress_interval);
    EXPECT_EQ(config.cloudflared.reuse, defaults.cloudflared.reuse);
    EXPECT_EQ(config.cloudflared.sha_required, defaults.cloudflared.sha_required);
    EXPECT_EQ(config.tunnel.mode, defaults.tunnel.mode);
    EXPECT_EQ(config.tunnel.token, defaults.tunnel.token);
    EXPECT_EQ(config.tunnel.config_file, L"C:\\app\\config.yml");
    EXPECT_EQ(config.tunnel.tunnel_id, defaults.tunnel.tunnel_id);
    EXPECT_EQ(config.tunnel.credentials, defaults.tunnel.credentials);
    EXPECT_EQ(config.tunnel.extra_args, defaults.tunnel.extra_args);
    EXPECT_TRUE(config.routes.empty());
    EXPECT_EQ(config.supervisor.restart_delay, defaults.supervisor.restart_delay);
    EXPECT_EQ(config.supervisor.max_restart_delay, defaults.supervisor.max_restart_delay);
    EXPECT_EQ(config.supervisor.log_dir, L"C:\\app\\logs");
    EXPECT_EQ(config.supervisor.log_rotate_mb, defaults.supervisor.log_rotate_mb);
    EXPECT_EQ(config.supervisor.heartbeat_warn_sec, defaults.supervisor.heartbeat_warn_sec);
    EXPECT_EQ(config.supervisor.metrics, defaults.supervisor.metrics);
    EXPECT_EQ(config.supervisor.unready_restart_sec, defaults.supervisor.unready_restart_sec);

    // The template's own values must match even when the record it fills holds other values.
    std::vector<IniEntry> entries;
    ParseIniText(DefaultIniTemplate(), entries);
    Config other;
    other.cloudflared.chunks = 9;
    other.cloudflared.reuse = false;
    other.supervisor.heartbeat_warn_sec = 999;
    ApplyIniEntries(entries, L"C:\\app\\mosswarden.ini", other);
    EXPECT_EQ(other.cloudflared.chunks, 4);
    EXPECT_TRUE(other.cloudflared.reuse);
    EXPECT_EQ(other.supervisor.heartbeat_warn_sec, 180);
}

}  // namespace
}  // namespace mw
