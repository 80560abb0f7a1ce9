// The supervisor's state file as text: written whole by the supervisor, read by the status report.
#include "supervisor/run_state.h"


namespace mw {

const wchar_t kRunStateFileName[] = L"mosswarden-state.txt";

namespace {

uint64_t ToNumber(const std::string& text) {
    if (text.empty() || text.size() > 20) return 0;
    for (char c : text) {
        if (c < '0' || c > '9') return 0;
    }
    uint64_t value = 0;
    for (char c : text) {
        if (value > (UINT64_MAX - 9) / 10) return 0;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    return value;
}

}  // namespace

void DropOldRestarts(RunState& state, uint64_t now) {
    std::vector<uint64_t> kept;
    for (uint64_t t : state.restarts) {
        if (t <= now && now - t < kFileTimeHour) kept.push_back(t);
    }
    state.restarts.swap(kept);
}

std::string FormatRunState(const RunState& state) {
    std::string text = "supervisor_pid=" + std::to_string(state.supervisorPid) + "\r\n";
    text += "connector_pid=" + std::to_string(state.connectorPid) + "\r\n";
    text += "connector_started=" + std::to_string(state.connectorStarted) + "\r\n";
    text += "ready_connections=" + (state.readyConnections < 0 ? std::string() : std::to_string(state.readyConnections)) +
            "\r\n";
    text += "last_exit_code=" + (state.hasExit ? std::to_string(state.lastExitCode) : std::string()) + "\r\n";
    text += "restarts=";
    for (size_t i = 0; i < state.restarts.size(); ++i) {
        if (i > 0) text += ",";
        text += std::to_string(state.restarts[i]);
    }
    return text + "\r\n";
}

bool ParseRunState(const std::string& text, RunState* state) {
    RunState parsed;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = line.substr(0, eq);
        const std::string value = line.substr(eq + 1);
        if (key == "supervisor_pid") parsed.supervisorPid = static_cast<uint32_t>(ToNumber(value));
        if (key == "connector_pid") parsed.connectorPid = static_cast<uint32_t>(ToNumber(value));
        if (key == "connector_started") parsed.connectorStarted = ToNumber(value);
        if (key == "ready_connections" && !value.empty()) parsed.readyConnections = static_cast<int32_t>(ToNumber(value) & 0x7FFFFFFF);
        if (key == "last_exit_code" && !value.empty()) {
            parsed.hasExit = true;
            parsed.lastExitCode = static_cast<uint32_t>(ToNumber(value));
        }
        if (key == "restarts") {
            size_t start = 0;
            while (start < value.size() && parsed.restarts.size() < 100000) {
                size_t comma = value.find(',', start);
                if (comma == std::string::npos) comma = value.size();
                uint64_t t = ToNumber(value.substr(start, comma - start));
                if (t != 0) parsed.restarts.push_back(t);
                start = comma + 1;
            }
        }
    }
    if (parsed.supervisorPid == 0) return false;
    *state = parsed;
    return true;
}

}  // namespace mw
