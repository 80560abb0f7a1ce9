// Reads the connector's output lines: copies them into the log, spots registration and the failure families.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

namespace mw {

class Logger;

// The failure families the connector's lines fall into; each gives its hint once per run.
enum class HintFamily : uint32_t {
    TokenInvalid = 1u << 0,   // token rejected or the tunnel's credentials refused
    TokenMissing = 1u << 1,   // no token reached the connector
    EdgeDns = 1u << 2,        // the SRV lookup of the edge addresses failed
    EdgeQuic = 1u << 3,       // QUIC (UDP 7844) to the edge does not get through
    EdgePort = 1u << 4,       // a dial to the edge's port 7844 refused or timed out
    OriginRefused = 1u << 5,  // the local service behind the tunnel refused
};

// The families a line belongs to (HintFamily bits), 0 for none.
uint32_t HintFamiliesOf(const std::wstring& line);
// The hint for a family (a single bit).
const wchar_t* HintText(HintFamily family);

// One connector run. The pump thread writes the flags; the supervisor thread reads `registered`.
struct ConnectorRunState {
    std::atomic<bool> registered{false};
    uint32_t hintsShown = 0;  // HintFamily bits
    uint64_t startTick = 0;   // GetTickCount64 at the start, written before the pump thread exists

    void Reset(uint64_t now) {
        registered.store(false, std::memory_order_relaxed);
        hintsShown = 0;
        startTick = now;
    }
};

// Receives (level, text) for each log line the analyzer writes.
using LogSink = std::function<void(const wchar_t* level, const std::wstring& text)>;

// Pure body of the analyzer: the "CFD" copy first, then at most one hint per family and run.
void AnalyzeLine(ConnectorRunState& state, const std::wstring& line, uint64_t nowTick, const LogSink& log);

// AnalyzeLine with the logger and GetTickCount64.
void AnalyzeConnectorLine(Logger& logger, ConnectorRunState& state, const std::wstring& line);

}  // namespace mw
