// Builds the connector's argument string and extra environment from the settings.
#include "supervisor/connector_args.h"

namespace mw {

std::wstring BuildConnectorArgs(const Config& config, const std::wstring& ymlPath) {
    // The connector accepts most flags (--loglevel, --edge-ip-version, --metrics) only on "tunnel":
    // placed after "run" they end it at once with "Incorrect Usage", so extra_args go before "run".
    std::wstring args = L"--no-autoupdate tunnel";
    if (config.tunnel.mode == L"config") args += L" --config \"" + ymlPath + L"\"";
    if (!config.tunnel.extra_args.empty()) args += L" " + config.tunnel.extra_args;
    args += L" run";
    return args;
}

EnvironmentList BuildConnectorEnvironment(const Config& config) {
    EnvironmentList env;
    if (config.tunnel.mode == L"token" && !config.tunnel.token.empty()) env.emplace_back(L"TUNNEL_TOKEN", config.tunnel.token);
    // The connector reads its metrics address from the environment; --metrics would have to go
    // before "run", where the user's extra_args also go.
    if (!config.supervisor.metrics.empty()) env.emplace_back(L"TUNNEL_METRICS", config.supervisor.metrics);
    return env;
}

}  // namespace mw
