// The long-running loop that keeps one cloudflared alive, and the stop event its hosts signal.
#pragma once

#include <cstdint>

namespace mw {

// The process-wide manual-reset stop event (a HANDLE), created and closed by the host; may be null.
extern void* StopEvent;

// True when StopEvent exists and is signalled.
bool StopRequested();

// Waits the seconds or until StopEvent is signalled; true on a stop. Without an event a plain sleep.
bool WaitOrStop(int32_t seconds);
bool WaitOrStopMs(uint32_t milliseconds);

// Runs until StopEvent is signalled (never without one). Uses CurrentConfig(); returns 0.
int RunSupervisor(bool serviceMode);

}  // namespace mw
