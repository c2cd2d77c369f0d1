#include "mapping/engine.h"

#include <algorithm>

#include "mapping/sim_link.h"

// Each event kind to its handler.
struct Engine::Visit {
    Engine& engine;
    Clock::TimePoint now;

    void operator()(const PanelEvent& e) const { engine.onInput(e, now); }
    void operator()(const engine_event::PanelAdded& e) const { engine.onPanelAdded(e); }
    void operator()(const engine_event::PanelRemoved& e) const { engine.onPanelRemoved(e); }
    void operator()(const engine_event::LinkChanged& e) const {
        engine.link_.onLinkChange(e.connected, now);
        engine.outputs_.setSimConnected(e.connected, now);
    }
    void operator()(const engine_event::BatteryChanged& e) const {
        engine.outputs_.setBattery(e.on, now);
    }
    void operator()(const engine_event::LVarValue& e) const {
        engine.outputs_.onLVarPayload(e.payload, now);
    }
    void operator()(const engine_event::ClientData& e) const {
        engine.link_.onClientData(e.requestId, e.bytes, now);
    }
};

Engine::Engine(const CompiledConfig& compiled, SimLink& link, PanelOutput& output, Clock& clock)
    : link_(link),
      latency_(clock),
      holds_(clock),
      outputs_(clock),
      dispatcher_(compiled, link, holds_, outputs_, &latency_, clock),
      output_(output) {
    holds_.configure(link, compiled.app().mobiflight.mapHoldRepeatMs);
}

void Engine::start(Clock::TimePoint now) {
    outputs_.start(dispatcher_.compiled(), output_, now);
}

// The tick waits until the events already waiting are handled too: the
// commands of a burst then leave together (encoder steps of one text add
// up), and an idle engine still sends at once.
Clock::TimePoint Engine::handle(const EngineEvent& event, Clock::TimePoint now) {
    std::visit(Visit{*this, now}, event);
    return now;
}

Clock::TimePoint Engine::tick(Clock::TimePoint now) {
    Clock::TimePoint next = holds_.repeatDue(now);
    next = std::min(next, outputs_.refresh(now));
    next = std::min(next, link_.tick(now));
    return std::min(next, pollSummaries(now));
}

void Engine::onInput(PanelEvent event, Clock::TimePoint now) {
    const auto found = connections_.find({event.boardId, event.index});
    if (found != connections_.end()) event.connection = found->second;
    dispatcher_.dispatch(event, now);
}

void Engine::onPanelAdded(const engine_event::PanelAdded& panel) {
    connections_[{panel.name, panel.index}] = panel.connection;
    outputs_.panelAdded(panel.name, panel.index);
}

void Engine::onPanelRemoved(const engine_event::PanelRemoved& panel) {
    holds_.dropPanel(panel.connection);
    const auto found = connections_.find({panel.name, panel.index});
    if (found == connections_.end() || found->second != panel.connection) return;
    connections_.erase(found);
    outputs_.panelRemoved(panel.name, panel.index);
}

// The minute lines of the warnings and of the latency.
Clock::TimePoint Engine::pollSummaries(Clock::TimePoint now) {
    Clock::TimePoint next = Clock::TimePoint::max();
    for (RepeatLimiter* limiter :
         {&holds_.warnings(), &outputs_.warnings(), &dispatcher_.warnings()}) {
        Clock::TimePoint due = limiter->nextDue();
        if (due <= now) {
            limiter->poll();
            due = limiter->nextDue();
        }
        next = std::min(next, due);
    }
    if (latency_.nextDue() <= now) latency_.poll();
    return std::min(next, latency_.nextDue());
}
