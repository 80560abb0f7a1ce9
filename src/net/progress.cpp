// Renders the download progress line: percentage, megabytes, average speed and remaining time.
#include "net/progress.h"

#include "base/text.h"

namespace mw {

std::wstring ProgressText(const std::wstring& label, uint64_t done, uint64_t total, uint64_t elapsedMs,
                          uint64_t resumed) {
    double elapsed = static_cast<double>(elapsedMs) / 1000.0;
    if (elapsed < 0.5) elapsed = 0.5;
    uint64_t transferred = done > resumed ? done - resumed : 0;
    double speed = static_cast<double>(transferred) / 1024.0 / elapsed;
    const double mb = 1048576.0;
    if (total == 0) {
        return FormatText(L"%s %.1f MB  %.0f KB/s", label.c_str(), static_cast<double>(done) / mb, speed);
    }
    // done * 100 would wrap for sizes beyond 2^64 / 100; such sizes are split before the product.
    uint64_t percent = done >= total ? 100
                                     : (done <= UINT64_MAX / 100 ? done * 100 / total : done / (total / 100 + 1));
    if (percent > 100) percent = 100;
    double remaining = done >= total ? 0.0 : static_cast<double>(total - done);
    double eta = speed > 1.0 ? remaining / 1024.0 / speed : 0.0;
    std::wstring left;
    if (eta > 3600.0) {
        left = FormatText(L"%.1f 小时", eta / 3600.0);
    } else if (eta > 60.0) {
        left = FormatText(L"%.0f 分钟", eta / 60.0);
    } else {
        left = FormatText(L"%.0f 秒", eta);
    }
    return FormatText(L"%s %d%%  %.1f/%.1f MB  %.0f KB/s  剩余 %s", label.c_str(), static_cast<int>(percent),
                      static_cast<double>(done) / mb, static_cast<double>(total) / mb, speed, left.c_str());
}

}  // namespace mw
