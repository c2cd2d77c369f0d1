#pragma once

#include <cstdint>
#include <string>

#include "config/compiled_config.h"
#include "hid/hid_protocol.h"
#include "log/repeat_limiter.h"
#include "mapping/engine_events.h"

class HoldRepeater;
class LatencySummary;
class OutputState;
class SimLink;

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
// Each panel's device entry and role are resolved at its first event.
//
// Threads: dispatch() runs on one thread at a time (the engine's, or a
// test's). Holds no locks; calls the link, the hold repeater, the output
// state and the latency summary, which must outlive it.
class Dispatcher {
public:
    // A knob spun as fast as a hand can turn it reports well under 20
    // detents at a time.
    static constexpr std::int32_t kMaxEncoderStepsPerReport = 32;

    // `compiled` holds the configuration, the button table and the event
    // map the events are read against.
    Dispatcher(const CompiledConfig& compiled, SimLink& link, HoldRepeater& holds,
               OutputState& outputs, LatencySummary* latency = nullptr,
               Clock& clock = Clock::system());

    void dispatch(const PanelEvent& queued, Clock::TimePoint now) const;
    const CompiledConfig& compiled() const { return compiled_; }
    RepeatLimiter& warnings() const { return stepWarnings_; }

private:
    // What the event means under the configuration.
    struct Resolved {
        const PanelEvent* queued;
        const PanelSettings* panel;
        const CompiledConfig::Control* control;  // null when the event map has no name
        const std::string* role;                 // as the trace shows it
        RoleId roleId;
        HidProtocol::Action action;
        Clock::TimePoint now;
        bool hasEntry() const { return control && control->hasEntry; }
        const std::string& controlName() const;
    };
    // What the RPN send and the fallback did, for the trace line.
    struct Outcome {
        bool rpnQueued = false;
        bool notReady = false;
        bool fast = false;
        bool simEventSent = false;
        std::int32_t mfAmount = -1;  // negative: not shown
    };

    Resolved resolve(const PanelEvent& queued, Clock::TimePoint now) const;
    struct Role {
        const std::string* text;  // as the trace shows it
        RoleId id;
    };
    Role roleOf(const HidProtocol::HidEvent& event, const PanelSettings& panel) const;
    const std::string& command(const Resolved& r, ControlAction action) const;
    bool isManagedMapEvent(const Resolved& r) const;
    void dispatchManagedMap(const Resolved& r) const;
    void sendMapPress(const Resolved& r, const std::string& command) const;
    void releaseQueuedCommands(const Resolved& r) const;
    void sendRpn(const Resolved& r, Outcome& outcome) const;
    const std::string& commandFor(const Resolved& r, Outcome& outcome) const;
    void queueRpn(const Resolved& r, const std::string& command, Outcome& outcome) const;
    std::int32_t encoderSteps(const Resolved& r) const;
    void sendAutopilotFallback(const Resolved& r, Outcome& outcome) const;
    void traceDispatched(const Resolved& r, const Outcome& outcome) const;
    void recordLatency(const PanelEvent& queued) const;

    const CompiledConfig& compiled_;
    mutable PanelDirectory panels_;
    const RoleId pfdRole_;
    const RoleId mfdRole_;
    SimLink& link_;
    HoldRepeater& holds_;
    OutputState& outputs_;
    LatencySummary* latency_;
    mutable RepeatLimiter stepWarnings_;
};
