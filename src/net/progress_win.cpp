// Writes the progress line of a download attempt to the log.
#include "net/progress.h"

#include "base/logger.h"
#include "base/win.h"

namespace mw {

void ProgressState::Report(const wchar_t* label) {
    uint64_t now = GetTickCount64();
    uint64_t elapsed = now >= start ? now - start : 0;
    Logger::Instance().Write(L"INFO", ProgressText(label, done.load(), total, elapsed, resumed));
}

}  // namespace mw
