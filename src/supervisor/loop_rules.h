// The supervisor's decisions as pure functions: banner, back-off, waits, registration warning, exit line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "config/settings.h"

namespace mw {

struct LogLine {
    const wchar_t* level;
    std::wstring text;
};

// What the start banner reports about the machine and this process.
struct BannerFacts {
    std::wstring osText;
    bool atLeastWin7 = true;
    std::wstring archWord;
    bool elevated = false;
    std::wstring modulePath;
};

std::vector<LogLine> StartBannerLines(const Config& config, const BannerFacts& facts);

// A run that lived this long without registering no longer counts as a crash loop.
constexpr uint64_t kHealthyRunMs = 60000;

// A run that ended before it registered and within kHealthyRunMs of its start, or that was
// restarted for not being ready, is a failure: the next wait is doubled. Anything else resets it.
bool RunCountsAsFailure(bool registered, uint64_t livedMs, bool restartedUnready);

// Twice the delay, capped at maxDelay (without wrapping for large delays).
int32_t NextBackoff(int32_t delay, int32_t maxDelay);

// seconds * 1000, clamped to the largest finite wait (INFINITE is 0xFFFFFFFF); negative is 0.
uint32_t WaitMilliseconds(int64_t seconds);

// True when the registration warning is due at `now`, measured from `sinceTick` (the last time the
// tunnel was seen registered, or the supervisor's start); then lastWarnTick becomes now. A
// lastWarnTick of 0 means no warning yet.
bool RegistrationWarningDue(uint64_t now, uint64_t startTick, int32_t heartbeatSec, uint64_t& lastWarnTick);

// "cloudflared 退出，退出码 <decimal>（0x<hex>）".
std::wstring ExitLine(uint32_t exitCode);

}  // namespace mw
