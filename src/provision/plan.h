// Pure decisions of provisioning: derived paths and URL, the reuse and acceptance rules, mirror lists.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/platform.h"
#include "base/process.h"
#include "config/settings.h"

namespace mw {

struct ConnectorPlan {
    std::wstring arch;
    std::wstring connectorPath;
    std::wstring partPath;      // what the download engine writes
    std::wstring downloadUrl;
    std::wstring expectedSha;   // may be empty
};

ConnectorPlan PlanConnector(const CloudflaredSettings& settings, const std::wstring& iniDir,
                            const OsVersionInfo& osInfo);

// "MB" in the size rules is 1,048,576 bytes: an existing file must be larger, a download at least that.
constexpr uint64_t kMinConnectorBytes = 1048576;

enum class ReuseVerdict {
    Download,      // missing or too small: download without a message
    Reuse,         // the machine matches or cannot be read
    WrongMachine,  // another machine word: warn, then download
};

ReuseVerdict JudgeExisting(bool exists, uint64_t size, const std::wstring& machine, const std::wstring& arch);
bool DownloadSizeAcceptable(uint64_t size);
// "unknown" passes: a header that cannot be read is left to the checksum.
bool MachineAcceptable(const std::wstring& machine, const std::wstring& arch);
// Whole-string comparison after folding A-Z to a-z on both sides.
bool ShaMatches(const std::wstring& expected, const std::wstring& actual);

enum class RunVerdict {
    Runs,          // exit code 0 and a version line: `version` is set
    OtherVersion,  // runs, but names another version than the configured one: `version` is set
    BadProgram,    // the start failed with 193 or 216: not a program this Windows can load
    CannotRun,     // a crash, another exit code, a start failure or no version line
};

// The version a "--version" output names: the word after "version " made of digits and dots, or "".
std::wstring VersionInOutput(const std::wstring& output);

// Judges the "--version" run of a connector file. A run that timed out but printed a version
// counts as running; one that printed nothing does not.
RunVerdict JudgeVersionRun(const CapturedRun& run, const std::wstring& configuredVersion, std::wstring* version);

// "cloudflared 无法在本机运行（退出码 0x%08X）", with what else is known about the failed run.
std::wstring CannotRunText(const CapturedRun& run);

// The mirrors setting split at ";", each piece trimmed, empty pieces dropped, order kept.
std::vector<std::wstring> SplitMirrors(const std::wstring& text);

}  // namespace mw
