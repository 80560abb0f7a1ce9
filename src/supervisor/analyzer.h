// Reads the connector's output lines: copies them into the log, spots registration and two failure families.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

namespace mw {

class Logger;

// One connector run. The pump thread writes the flags; the supervisor thread reads `registered`.
struct ConnectorRunState {
    std::atomic<bool> registered{false};
    bool authHintShown = false;
    bool refusedHintShown = false;
    uint64_t startTick = 0;  // GetTickCount64 at the start, written before the pump thread exists

    void Reset(uint64_t now) {
        registered.store(false, std::memory_order_relaxed);
        authHintShown = false;
        refusedHintShown = false;
        startTick = now;
    }
};

// Receives (level, text) for each log line the analyzer writes.
using LogSink = std::function<void(const wchar_t* level, const std::wstring& text)>;

// Pure body of the analyzer: the "CFD" copy first, then at most one message per family and run.
void AnalyzeLine(ConnectorRunState& state, const std::wstring& line, uint64_t nowTick, const LogSink& log);

// AnalyzeLine with the logger and GetTickCount64.
void AnalyzeConnectorLine(Logger& logger, ConnectorRunState& state, const std::wstring& line);

}  // namespace mw
