// The end of a log file -> the status report's tail lines: at most the limit, none blank.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "winsvc/status.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    std::vector<std::wstring> lines = mw::SplitLogTail(bytes, 12);
    if (lines.size() > 12) std::abort();
    for (const std::wstring& line : lines) {
        if (line.empty()) std::abort();
    }
    if (mw::LogTailStart(size) > size) std::abort();
    return 0;
}
