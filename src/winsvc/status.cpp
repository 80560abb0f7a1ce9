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

std::vector<std::wstring> TunnelStatusLines(const RunState* state, const ReadyAnswer* live, uint64_t now) {
    std::vector<std::wstring> lines;
    if (state == nullptr) {
        lines.push_back(L"守护进程: 未运行");
        return lines;
    }
    lines.push_back(FormatText(L"守护进程: PID %u", static_cast<unsigned>(state->supervisorPid)));
    if (state->connectorPid != 0) {
        uint64_t seconds = now > state->connectorStarted ? (now - state->connectorStarted) / 10000000ULL : 0;
        const unsigned days = static_cast<unsigned>(seconds / 86400);
        seconds %= 86400;
        std::wstring uptime = FormatText(L"%u:%02u:%02u", static_cast<unsigned>(seconds / 3600),
                                         static_cast<unsigned>(seconds / 60 % 60), static_cast<unsigned>(seconds % 60));
        if (days > 0) uptime = FormatText(L"%u 天 ", days) + uptime;
        lines.push_back(FormatText(L"cloudflared 进程: PID %u，已运行 %s", static_cast<unsigned>(state->connectorPid),
                                   uptime.c_str()));
    } else {
        lines.push_back(L"cloudflared 进程: 未运行（等待重启）");
    }
    if (live != nullptr) {
        if (live->answered) {
            lines.push_back(FormatText(L"隧道可用连接: %d", int(live->status == 200 ? live->connections : 0)));
        } else {
            lines.push_back(L"隧道可用连接: 无应答（" + live->error + L"）");
        }
    }
    RunState recent = *state;
    DropOldRestarts(recent, now);
    lines.push_back(FormatText(L"近一小时重启: %u 次", static_cast<unsigned>(recent.restarts.size())));
    if (state->hasExit) {
        lines.push_back(FormatText(L"上次退出码: %u（0x%08X）", static_cast<unsigned>(state->lastExitCode),
                                   static_cast<unsigned>(state->lastExitCode)));
    }
    return lines;
}

std::wstring NewestLog(const std::vector<std::pair<std::wstring, uint64_t>>& candidates, const std::wstring& fallback) {
    const std::pair<std::wstring, uint64_t>* newest = nullptr;
    for (const auto& candidate : candidates) {
        if (newest == nullptr || candidate.second > newest->second) newest = &candidate;
    }
    return newest ? newest->first : fallback;
}

}  // namespace mw
