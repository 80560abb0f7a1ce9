// The pure part of the status report: cutting the end of a log file into its last lines.
#include "winsvc/status.h"

#include "base/text.h"

namespace mw {

uint64_t LogTailStart(uint64_t size) { return size > kLogTailWindow ? size - kLogTailWindow : 0; }

std::vector<std::wstring> SplitLogTail(const std::string& bytes, int32_t maxLines) {
    std::vector<std::wstring> lines;
    if (maxLines <= 0) return lines;
    std::wstring text = Utf8ToWide(bytes);
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find(L'\n', pos);
        if (end == std::wstring::npos) end = text.size();
        std::wstring line = TrimText(text.substr(pos, end - pos));
        if (!line.empty()) lines.push_back(line);
        pos = end + 1;
    }
    size_t keep = static_cast<size_t>(maxLines);
    if (lines.size() > keep) lines.erase(lines.begin(), lines.end() - static_cast<std::ptrdiff_t>(keep));
    return lines;
}

}  // namespace mw
