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
    // Bytes that were already on disk (a resumed partial file or segments); they count in done but
    // not in the speed. Set by the transfer's own thread before any worker starts.
    uint64_t resumed = 0;

    // Logs one line at INFO with the label ("进度", "完成", "中止").
    void Report(const wchar_t* label);
};

// The progress line for done of total bytes, elapsedMs after the start; speed and time left come
// from the bytes of this transfer only (done - resumed).
std::wstring ProgressText(const std::wstring& label, uint64_t done, uint64_t total, uint64_t elapsedMs,
                          uint64_t resumed = 0);

}  // namespace mw
