// How cloudflared is invoked: its argument string and the environment that carries the token.
#pragma once

#include <string>

#include "base/process.h"
#include "config/settings.h"

namespace mw {

// "--no-autoupdate tunnel[ --config "<ymlPath>"][ <extra_args>] run"; never contains the token.
std::wstring BuildConnectorArgs(const Config& config, const std::wstring& ymlPath);

// ("TUNNEL_TOKEN", token) in token mode with a token, then ("TUNNEL_METRICS", metrics) when set.
EnvironmentList BuildConnectorEnvironment(const Config& config);

}  // namespace mw
