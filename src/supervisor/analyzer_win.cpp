// The analyzer bound to the process-wide logger and the system tick count.
#include "base/logger.h"
#include "base/win.h"
#include "supervisor/analyzer.h"

namespace mw {

void AnalyzeConnectorLine(Logger& logger, ConnectorRunState& state, const std::wstring& line) {
    AnalyzeLine(state, line, GetTickCount64(),
                [&logger](const wchar_t* level, const std::wstring& text) { logger.Write(level, text); });
}

}  // namespace mw
