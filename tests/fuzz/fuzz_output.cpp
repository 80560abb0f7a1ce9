// Connector output bytes -> lines (the pump's splitter) -> analyzer: never crashes, lines stay bounded.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/process_text.h"
#include "supervisor/analyzer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    mw::ConnectorRunState state;
    state.Reset(1000);
    uint64_t now = 1000;
    size_t logged = 0;
    mw::LogSink sink = [&logged](const wchar_t*, const std::wstring&) { ++logged; };
    mw::LineHandler handler = [&](const std::wstring& line) {
        // A line can never be longer than the pending limit in UTF-16 units.
        if (line.size() > mw::OutputLineSplitter::kMaxPending) std::abort();
        now += 7;
        mw::AnalyzeLine(state, line, now, sink);
    };
    mw::OutputLineSplitter splitter;
    // Feed in pieces whose sizes come from the data, as the pipe delivers them.
    size_t pos = 0;
    while (pos < size) {
        size_t piece = 1 + (data[pos] % 97);
        if (piece > size - pos) piece = size - pos;
        splitter.Feed(reinterpret_cast<const char*>(data + pos), piece, handler);
        pos += piece;
    }
    splitter.Finish(handler);
    return 0;
}
