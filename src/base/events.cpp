// The severity of each supervisor event and the process-wide sink that receives them.
#include "base/events.h"

#include <atomic>

namespace mw {

namespace {

std::atomic<EventSink> g_sink{nullptr};

}  // namespace

EventSeverity SeverityOf(SupervisorEvent event) {
    switch (event) {
        case SupervisorEvent::ConnectorExited:
        case SupervisorEvent::TunnelNotReady:
        case SupervisorEvent::IniReloadFailed:
            return EventSeverity::Warning;
        case SupervisorEvent::ProvisionFailed:
            return EventSeverity::Error;
        default:
            return EventSeverity::Information;
    }
}

std::vector<SupervisorEvent> AllSupervisorEvents() {
    std::vector<SupervisorEvent> events;
    for (uint32_t id = 1000; id <= 1008; ++id) events.push_back(static_cast<SupervisorEvent>(id));
    return events;
}

void SetEventSink(EventSink sink) { g_sink.store(sink); }

void ReportSupervisorEvent(SupervisorEvent event, const std::vector<std::wstring>& inserts) {
    EventSink sink = g_sink.load();
    if (sink != nullptr) sink(event, inserts);
}

}  // namespace mw
