// The analyzer bound to the process-wide logger and the system tick count.
#include "base/events.h"
#include "base/logger.h"
#include "base/text.h"
#include "base/win.h"
#include "supervisor/analyzer.h"

namespace mw {

void AnalyzeConnectorLine(Logger& logger, ConnectorRunState& state, const std::wstring& line) {
    const bool wasRegistered = state.registered.load(std::memory_order_relaxed);
    const uint64_t now = GetTickCount64();
    AnalyzeLine(state, line, now, [&logger](const wchar_t* level, const std::wstring& text) { logger.Write(level, text); });
    if (!wasRegistered && state.registered.load(std::memory_order_relaxed)) {
        ReportSupervisorEvent(SupervisorEvent::TunnelRegistered,
                              {FormatText(L"%u", static_cast<unsigned>((now - state.startTick) / 1000))});
    }
}

}  // namespace mw
