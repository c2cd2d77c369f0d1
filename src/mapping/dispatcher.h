#pragma once

#include <cstdint>
#include <string>

#include "hid/hid_protocol.h"
#include "log/repeat_limiter.h"
#include "mapping/event_queue.h"

class ButtonConfig;
class EventMap;
class HoldRepeater;
class LatencySummary;
class OutputState;
class SimLink;
struct AppConfig;
struct DeviceConfig;

// From one panel event to at most one immediate simulator command, in named
// steps: the event's role and action, a pause of the panel's LEDs, managed
// map controls (direct sends and holds), the RPN send, the autopilot
// fallback, and the DEBUG trace line. An event whose command the link took
// (a queued RPN send, a direct map press, a simulator event) is timed from
// its report's read time to the moment the link call returned, in
// `latency` when given; an event that wrote nothing is not.
//
// An encoder report sends at most kMaxEncoderStepsPerReport steps: more is
// a broken or hostile panel, reported by one WARN (then a count a minute).
//
// Threads: dispatch() runs on one thread at a time (the event worker, or a
// test's). Holds no locks; calls the link, the hold repeater, the output
// state and the latency summary, which must outlive it.
class Dispatcher {
public:
    // A knob spun as fast as a hand can turn it reports well under 20
    // detents at a time.
    static constexpr std::int32_t kMaxEncoderStepsPerReport = 32;

    Dispatcher(const AppConfig& config, const ButtonConfig& buttons, const EventMap& eventMap,
               SimLink& link, HoldRepeater& holds, OutputState& outputs,
               LatencySummary* latency = nullptr)
        : config_(config),
          buttons_(buttons),
          eventMap_(eventMap),
          link_(link),
          holds_(holds),
          outputs_(outputs),
          latency_(latency) {}

    void dispatch(const PanelEvent& queued) const;

private:
    // What the event means under the configuration.
    struct Resolved {
        const PanelEvent* queued;
        const DeviceConfig* entry;  // the panel's device entry, or null
        std::string role;
        std::string typeName;
        std::string controlName;
        std::string normalizedName;
        bool hasEntry;  // the control has an entry in the button configuration
        HidProtocol::Action action;
    };
    // What the RPN send and the fallback did, for the trace line.
    struct Outcome {
        bool rpnQueued = false;
        bool notReady = false;
        bool fast = false;
        bool simEventSent = false;
        std::int32_t mfAmount = -1;  // negative: not shown
    };

    Resolved resolve(const PanelEvent& queued) const;
    std::string roleOf(const HidProtocol::HidEvent& event, const DeviceConfig* entry) const;
    bool isManagedMapEvent(const Resolved& r) const;
    void dispatchManagedMap(const Resolved& r) const;
    void sendMapPress(const Resolved& r, const std::string& command) const;
    void releaseQueuedCommands(const Resolved& r) const;
    void sendRpn(const Resolved& r, Outcome& outcome) const;
    std::string commandFor(const Resolved& r, Outcome& outcome) const;
    void queueRpn(const Resolved& r, const std::string& command, Outcome& outcome) const;
    std::int32_t encoderSteps(const Resolved& r) const;
    void sendAutopilotFallback(const Resolved& r, Outcome& outcome) const;
    void traceDispatched(const Resolved& r, const Outcome& outcome) const;
    void recordLatency(const PanelEvent& queued) const;

    const AppConfig& config_;
    const ButtonConfig& buttons_;
    const EventMap& eventMap_;
    SimLink& link_;
    HoldRepeater& holds_;
    OutputState& outputs_;
    LatencySummary* latency_;
    mutable RepeatLimiter stepWarnings_;
};
