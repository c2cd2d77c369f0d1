#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>

#include "common/clock.h"
#include "config/compiled_config.h"
#include "mapping/dispatcher.h"
#include "mapping/engine_events.h"
#include "mapping/hold_repeater.h"
#include "mapping/latency_summary.h"
#include "mapping/output_state.h"

class SimLink;

// The program's core: panel events become simulator commands (the
// Dispatcher), held map controls repeat (HoldRepeater), the panels' LEDs
// follow the simulator (OutputState), and with debug output on the time
// from a report being read to its command being handed to the link is
// summed up once a minute (LatencySummary). The link's own work (the
// MobiFlight queue, when it runs here) is ticked with the rest.
//
// It takes typed events and the time, runs what is due when ticked, and
// says when it wants to be ticked next; it never sleeps, reads no clock for its decisions and
// has no lock: everything happens on the caller's thread, one call at a
// time (the engine thread of MappingEngine, or a test on manual time).
//
// Panels are known from PanelAdded/PanelRemoved: input of a panel the
// engine was not told of is still dispatched, but a map hold it starts is
// not repeated (no release may ever come from a panel that is not open). The configuration, the link,
// the output and the clock (the repeat limiters' minutes) must outlive it.
class Engine {
public:
    Engine(const CompiledConfig& compiled, SimLink& link, PanelOutput& output, Clock& clock);

    // The first LED refresh is due one period after `now`.
    void start(Clock::TimePoint now);
    // Handles one event; returns `now`: tick() is due once the events
    // waiting behind it are handled as well.
    Clock::TimePoint handle(const EngineEvent& event, Clock::TimePoint now);
    // Runs what is due at `now`; returns the next deadline (max(): none).
    Clock::TimePoint tick(Clock::TimePoint now);
    // Forgets the holds (the run ends).
    void stop() { holds_.clear(); }

    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

private:
    struct Visit;

    void onInput(PanelEvent event, Clock::TimePoint now);
    void onPanelAdded(const engine_event::PanelAdded& panel);
    void onPanelRemoved(const engine_event::PanelRemoved& panel);
    Clock::TimePoint pollSummaries(Clock::TimePoint now);

    SimLink& link_;
    LatencySummary latency_;
    HoldRepeater holds_;
    OutputState outputs_;
    Dispatcher dispatcher_;
    PanelOutput& output_;
    std::map<std::pair<std::string, std::int32_t>, std::uint64_t> connections_;
};
