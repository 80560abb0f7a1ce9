// Download progress: the byte counter the transfer threads share and the INFO line rendered from it.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace mw {

// One per URL attempt. Transfer threads only add to done (atomically); total and start are set
// before they start.
struct ProgressState {
    std::atomic<uint64_t> done{0};
    uint64_t total = 0;  // 0 when the server did not state the size
    uint64_t start = 0;  // GetTickCount64 when the transfer started

    // Logs one line at INFO with the label ("进度", "完成", "中止").
    void Report(const wchar_t* label);
};

// The progress line for done of total bytes, elapsedMs after the start.
std::wstring ProgressText(const std::wstring& label, uint64_t done, uint64_t total, uint64_t elapsedMs);

}  // namespace mw
