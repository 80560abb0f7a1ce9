// The tunnel's readiness as the connector's metrics server reports it, and what the supervisor makes of it.
#pragma once

#include <cstdint>
#include <string>

namespace mw {

// How often the supervisor asks /ready while the connector runs.
constexpr int32_t kReadyPollSeconds = 5;

// "http://<host>:<port>/ready" for a metrics setting "host:port" on this machine (127.x, localhost,
// [::1]; 0.0.0.0 and an empty host are asked on 127.0.0.1). Empty when the setting is empty or
// names another machine: the supervisor only ever asks the local connector.
std::wstring ReadyUrl(const std::wstring& metrics);

// The number in "readyConnections":N of a /ready body; false when there is none.
bool ParseReadyConnections(const std::string& body, int32_t* count);

struct ReadyAnswer {
    bool answered = false;    // an HTTP answer came back
    uint32_t status = 0;
    int32_t connections = 0;  // from the body; 0 when it names none
    std::wstring error;       // why nothing answered
};

// True for an answer that counts as a ready tunnel: status 200 and at least one connection.
bool IsReady(const ReadyAnswer& answer);

// "健康: 就绪（N 条连接）", "健康: 未就绪（N 条连接）" or "健康: 未运行（<why>）", and its exit code 0, 1 or 2.
std::wstring HealthLine(const ReadyAnswer& answer, const std::wstring& metrics);
int HealthExitCode(const ReadyAnswer& answer);

// The watch over one connector run.
struct ReadinessWatch {
    int32_t lastCount = 0;
    uint64_t readySinceTick = 0;  // the start of the run, or the last ready answer
};

struct ReadinessStep {
    std::wstring info;  // "隧道可用连接: A → B" when the count changed
    std::wstring warn;  // "隧道已 N 秒没有可用连接，重启 cloudflared" when the restart is due
    bool restart = false;
};

// One answer at `now`. A restart is due when no answer was ready for unreadyRestartSec (0: never).
ReadinessStep ObserveReadiness(ReadinessWatch& watch, const ReadyAnswer& answer, uint64_t now,
                               int32_t unreadyRestartSec);

}  // namespace mw
