// The connector's argument string and the environment that carries the token.
#include "supervisor/connector_args.h"

#include <gtest/gtest.h>

#include <vector>

namespace mw {
namespace {

TEST(ConnectorArgs, ShapesByModeAndExtraArguments) {
    struct Case {
        std::wstring mode;
        std::wstring token;
        std::wstring extra;
        std::wstring args;
        bool tokenInEnvironment;
    };
    const std::wstring yml = L"C:\\Program Files\\mw\\config.yml";
    const std::vector<Case> cases = {
        {L"token", L"secret-token", L"", L"--no-autoupdate tunnel run", true},
        {L"token", L"", L"", L"--no-autoupdate tunnel run", false},
        {L"token", L"secret-token", L"--loglevel debug --edge-ip-version 4",
         L"--no-autoupdate tunnel --loglevel debug --edge-ip-version 4 run", true},
        {L"config", L"secret-token", L"",
         L"--no-autoupdate tunnel --config \"C:\\Program Files\\mw\\config.yml\" run", false},
        {L"config", L"", L"--protocol http2",
         L"--no-autoupdate tunnel --config \"C:\\Program Files\\mw\\config.yml\" --protocol http2 run", false},
        {L"Config", L"secret-token", L"", L"--no-autoupdate tunnel run", false},
    };
    for (const Case& c : cases) {
        Config config;
        config.tunnel.mode = c.mode;
        config.tunnel.token = c.token;
        config.tunnel.extra_args = c.extra;
        config.supervisor.metrics.clear();
        std::wstring args = BuildConnectorArgs(config, yml);
        EXPECT_EQ(args, c.args);
        EXPECT_EQ(args.find(L"secret-token"), std::wstring::npos);
        EnvironmentList env = BuildConnectorEnvironment(config);
        if (c.tokenInEnvironment) {
            EXPECT_EQ(env, (EnvironmentList{{L"TUNNEL_TOKEN", c.token}}));
        } else {
            EXPECT_TRUE(env.empty());
        }
    }
}

TEST(ConnectorArgs, TheMetricsAddressTravelsInTheEnvironment) {
    Config config;
    config.tunnel.token = L"secret-token";
    EXPECT_EQ(BuildConnectorEnvironment(config),
              (EnvironmentList{{L"TUNNEL_TOKEN", L"secret-token"}, {L"TUNNEL_METRICS", L"127.0.0.1:20241"}}));
    config.tunnel.mode = L"config";
    config.supervisor.metrics = L"127.0.0.1:9000";
    EXPECT_EQ(BuildConnectorEnvironment(config), (EnvironmentList{{L"TUNNEL_METRICS", L"127.0.0.1:9000"}}));
    EXPECT_EQ(BuildConnectorArgs(config, L"c.yml").find(L"metrics"), std::wstring::npos);
}

}  // namespace
}  // namespace mw
