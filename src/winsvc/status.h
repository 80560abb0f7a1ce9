// The "status" report: service state, program and INI paths, connector, tunnel mode, log tail.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "supervisor/readiness.h"
#include "supervisor/run_state.h"

namespace mw {

// Only this much of the end of a log file is read for its tail.
constexpr uint64_t kLogTailWindow = 131072;

// Where reading starts for a file of `size` bytes.
uint64_t LogTailStart(uint64_t size);
// Pure: decodes the bytes (UTF-8), splits at LF, trims each piece, drops blank ones and keeps the
// last `maxLines`, oldest first. A line cut by the window stays as its partial tail.
std::vector<std::wstring> SplitLogTail(const std::string& bytes, int32_t maxLines);
// The last non-blank lines of the file from its final 128 KiB; empty when it cannot be read.
std::vector<std::wstring> ReadLogTail(const std::wstring& path, int32_t maxLines);

// The tunnel lines of the report from the supervisor's state file (null: none, or its supervisor
// is gone), the live /ready answer (null: readiness off) and the current time (FILETIME units).
std::vector<std::wstring> TunnelStatusLines(const RunState* state, const ReadyAnswer* live, uint64_t now);

// The log a report shows: of the candidates (path, last-write time), the one written last; the
// fallback when none exists.
std::wstring NewestLog(const std::vector<std::pair<std::wstring, uint64_t>>& candidates, const std::wstring& fallback);

// Prints the report with WriteOut; reads only and never fails towards the caller.
void PrintStatus();

}  // namespace mw
