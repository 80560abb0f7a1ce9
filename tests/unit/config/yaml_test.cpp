// The config.yml text: the worked example, the default file, quoting and the originRequest rules.
#include "config/yaml.h"

#include <gtest/gtest.h>

namespace mw {
namespace {

std::wstring Join(std::initializer_list<const wchar_t*> lines) {
    std::wstring out;
    for (const wchar_t* line : lines) out += std::wstring(line) + L"\r\n";
    return out;
}

const wchar_t* const kHeader = L"# 由 mosswarden 生成\xFF0C每次启动会覆盖\xFF1B要改请改 mosswarden.ini";

RouteEntry Route(const wchar_t* hostname, const wchar_t* service) {
    RouteEntry route;
    route.hostname = hostname;
    route.service = service;
    return route;
}

TEST(Yaml, WorkedExampleByteForByte) {
    Config config;
    config.tunnel.tunnel_id = L"abc";
    config.tunnel.credentials = L"C:\\app\\abc.json";
    config.routes.push_back(Route(L"alpha", L"tcp://localhost:3389"));
    config.routes.push_back(Route(L"", L"tcp://localhost:22"));
    RouteEntry beta = Route(L"beta", L"");
    beta.path = L"/api";
    beta.no_tls_verify = true;
    beta.connect_timeout = L"30s";
    beta.http_host_header = L"it's";
    config.routes.push_back(beta);
    EXPECT_EQ(BuildConfigYml(config), Join({
                                          kHeader,
                                          L"no-autoupdate: true",
                                          L"loglevel: info",
                                          L"tunnel: 'abc'",
                                          L"credentials-file: 'C:\\app\\abc.json'",
                                          L"ingress:",
                                          L"  - hostname: 'alpha'",
                                          L"    service: 'tcp://localhost:3389'",
                                          L"  # 跳过缺少 hostname 的条目 2",
                                          L"  - hostname: 'beta'",
                                          L"    path: '/api'",
                                          L"    service: 'http_status:404'",
                                          L"    originRequest:",
                                          L"      noTLSVerify: true",
                                          L"      connectTimeout: '30s'",
                                          L"      httpHostHeader: 'it''s'",
                                          L"  - service: http_status:404",
                                      }));
}

TEST(Yaml, DefaultSettingsGiveFiveLines) {
    EXPECT_EQ(BuildConfigYml(Config()),
              Join({kHeader, L"no-autoupdate: true", L"loglevel: info", L"ingress:", L"  - service: http_status:404"}));
}

TEST(Yaml, OriginRequestOnlyWhenNeededAndInFixedOrder) {
    RouteEntry all = Route(L"h", L"s");
    all.origin_server_name = L"sni";
    all.http_host_header = L"host";
    all.connect_timeout = L"10s";
    all.disable_chunked_encoding = true;
    all.no_tls_verify = true;
    Config config;
    config.routes = {Route(L"plain", L"s"), all};
    EXPECT_EQ(BuildConfigYml(config), Join({
                                          kHeader,
                                          L"no-autoupdate: true",
                                          L"loglevel: info",
                                          L"ingress:",
                                          L"  - hostname: 'plain'",
                                          L"    service: 's'",
                                          L"  - hostname: 'h'",
                                          L"    service: 's'",
                                          L"    originRequest:",
                                          L"      noTLSVerify: true",
                                          L"      disableChunkedEncoding: true",
                                          L"      connectTimeout: '10s'",
                                          L"      httpHostHeader: 'host'",
                                          L"      originServerName: 'sni'",
                                          L"  - service: http_status:404",
                                      }));
    // Each condition alone opens the block.
    for (int which = 0; which < 5; ++which) {
        RouteEntry one = Route(L"h", L"s");
        if (which == 0) one.no_tls_verify = true;
        if (which == 1) one.disable_chunked_encoding = true;
        if (which == 2) one.connect_timeout = L"x";
        if (which == 3) one.http_host_header = L"x";
        if (which == 4) one.origin_server_name = L"x";
        Config single;
        single.routes = {one};
        EXPECT_NE(BuildConfigYml(single).find(L"    originRequest:\r\n"), std::wstring::npos) << which;
    }
}

TEST(Yaml, SkippedEntriesAreCountedByListPosition) {
    Config config;
    config.routes = {Route(L"", L"a"), Route(L"h", L"b"), Route(L"", L"c")};
    std::wstring text = BuildConfigYml(config);
    EXPECT_NE(text.find(L"  # 跳过缺少 hostname 的条目 1\r\n  - hostname: 'h'"), std::wstring::npos);
    EXPECT_NE(text.find(L"  # 跳过缺少 hostname 的条目 3\r\n  - service: http_status:404\r\n"), std::wstring::npos);
}

TEST(Yaml, QuoteDoublesApostrophesOnly) {
    struct Case {
        const wchar_t* in;
        const wchar_t* out;
    } cases[] = {
        {L"plain", L"'plain'"},
        {L"it's", L"'it''s'"},
        {L"''", L"''''''"},
        {L"C:\\a b\\#x: y", L"'C:\\a b\\#x: y'"},
        {L"中文\"q\"", L"'中文\"q\"'"},
    };
    for (const Case& c : cases) EXPECT_EQ(YamlQuote(c.in), c.out) << c.in;
}

TEST(Yaml, TargetPath) {
    Config config;
    config.ini_dir = L"C:\\app";
    config.tunnel.config_file = L"";
    EXPECT_EQ(ConfigYmlPath(config), L"C:\\app\\config.yml");
    config.tunnel.config_file = L"D:\\x\\c.yml";
    EXPECT_EQ(ConfigYmlPath(config), L"D:\\x\\c.yml");
}

}  // namespace
}  // namespace mw
