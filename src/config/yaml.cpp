// The config.yml text: fixed-shape lines in the connector's YAML format, every setting single-quoted.
#include "config/yaml.h"

#include "base/paths.h"
#include "base/text.h"

namespace mw {

namespace {

void AddLine(std::wstring& out, const std::wstring& line) {
    out += line;
    out += L"\r\n";
}

}  // namespace

std::wstring YamlQuote(const std::wstring& text) {
    std::wstring out = L"'";
    for (wchar_t c : text) {
        out += c;
        if (c == L'\'') out += L'\'';
    }
    out += L'\'';
    return out;
}

std::wstring BuildConfigYml(const Config& config) {
    std::wstring out;
    AddLine(out, L"# 由 mosswarden 生成，每次启动会覆盖；要改请改 mosswarden.ini");
    AddLine(out, L"no-autoupdate: true");
    AddLine(out, L"loglevel: info");
    const TunnelSettings& tunnel = config.tunnel;
    if (!tunnel.tunnel_id.empty()) AddLine(out, L"tunnel: " + YamlQuote(tunnel.tunnel_id));
    if (!tunnel.credentials.empty()) AddLine(out, L"credentials-file: " + YamlQuote(tunnel.credentials));
    AddLine(out, L"ingress:");
    for (size_t i = 0; i < config.routes.size(); ++i) {
        const RouteEntry& route = config.routes[i];
        if (route.hostname.empty()) {
            // The position in the loaded list, not the INI entry number.
            AddLine(out, FormatText(L"  # 跳过缺少 hostname 的条目 %u", static_cast<unsigned>(i + 1)));
            continue;
        }
        AddLine(out, L"  - hostname: " + YamlQuote(route.hostname));
        if (!route.path.empty()) AddLine(out, L"    path: " + YamlQuote(route.path));
        AddLine(out, L"    service: " + YamlQuote(route.service.empty() ? L"http_status:404" : route.service));
        if (route.no_tls_verify || route.disable_chunked_encoding || !route.http_host_header.empty() ||
            !route.origin_server_name.empty() || !route.connect_timeout.empty()) {
            AddLine(out, L"    originRequest:");
            if (route.no_tls_verify) AddLine(out, L"      noTLSVerify: true");
            if (route.disable_chunked_encoding) AddLine(out, L"      disableChunkedEncoding: true");
            if (!route.connect_timeout.empty()) {
                AddLine(out, L"      connectTimeout: " + YamlQuote(route.connect_timeout));
            }
            if (!route.http_host_header.empty()) {
                AddLine(out, L"      httpHostHeader: " + YamlQuote(route.http_host_header));
            }
            if (!route.origin_server_name.empty()) {
                AddLine(out, L"      originServerName: " + YamlQuote(route.origin_server_name));
            }
        }
    }
    AddLine(out, L"  - service: http_status:404");
    return out;
}

std::wstring ConfigYmlPath(const Config& config) {
    if (!config.tunnel.config_file.empty()) return config.tunnel.config_file;
    return JoinPath(config.ini_dir, L"config.yml");
}

}  // namespace mw
