// Supervisor events for the Event Log: fixed IDs, their severity, and the hook the service fills in.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mw {

// The IDs of the message table (src/app/messages.mc); each message's %1, %2 are the inserts.
enum class SupervisorEvent : uint32_t {
    SupervisorStarted = 1000,  // %1 INI path
    SupervisorStopped = 1001,  // %1 INI path
    ConnectorStarted = 1002,   // %1 PID
    ConnectorExited = 1003,    // %1 exit code as the log shows it
    TunnelRegistered = 1004,   // %1 seconds since the start
    TunnelNotReady = 1005,     // %1 seconds without a ready connection; the connector is restarted
    ProvisionFailed = 1006,    // %1 seconds until the next try
    IniReloaded = 1007,        // %1 INI path
    IniReloadFailed = 1008,    // %1 INI path, %2 error text
};

enum class EventSeverity { Information, Warning, Error };

EventSeverity SeverityOf(SupervisorEvent event);
// Every event, in ID order.
std::vector<SupervisorEvent> AllSupervisorEvents();

// Where events go: the service hosting sets one before it runs the supervisor; the console hostings
// set none. It may be called from the supervisor thread and the connector's output pump at once.
using EventSink = void (*)(SupervisorEvent event, const std::vector<std::wstring>& inserts);
void SetEventSink(EventSink sink);
// Hands the event to the sink; nothing without one.
void ReportSupervisorEvent(SupervisorEvent event, const std::vector<std::wstring>& inserts = {});

}  // namespace mw
