// The few facts the supervisor keeps beside its log for the status report: connector, readiness, restarts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mw {

// Times are FILETIME values (100 ns units since 1601, UTC).
struct RunState {
    uint32_t supervisorPid = 0;
    uint32_t connectorPid = 0;      // 0 while no connector runs
    uint64_t connectorStarted = 0;
    int32_t readyConnections = -1;  // -1: not known
    bool hasExit = false;
    uint32_t lastExitCode = 0;
    std::vector<uint64_t> restarts;  // connector starts after the first, newest last
};

constexpr uint64_t kFileTimeHour = 36000000000ULL;

// Keeps only the restarts of the last hour before `now`.
void DropOldRestarts(RunState& state, uint64_t now);

// "key=value" lines with CR LF; Parse ignores lines it does not know and returns false for no pid.
std::string FormatRunState(const RunState& state);
bool ParseRunState(const std::string& text, RunState* state);

// The file name beside the log.
extern const wchar_t kRunStateFileName[];

}  // namespace mw
