#include "mapping/mapping_engine.h"

#include <system_error>
#include <utility>

#include "config/compiled_config.h"
#include "mapping/client_link.h"
#include "mapping/dispatcher.h"

MappingEngine::MappingEngine(Clock& clock)
    : clock_(clock), latency_(clock), holds_(clock, &latency_), outputs_(clock) {}

MappingEngine::~MappingEngine() {
    stop();
}

bool MappingEngine::start(const AppConfig& config, HidManager& hid, SimConnectClient& simConnect,
                          MobiFlightClient& mobiFlight, const ButtonConfig& buttonConfig,
                          const EventMap& eventMap, SimState& simState, std::string& error) {
    if (running_.load()) {
        error = "Mapping engine already running";
        return false;
    }
    ownedLink_ = std::make_unique<ClientSimLink>(simConnect, mobiFlight);
    return start(config, hid, *ownedLink_, buttonConfig, eventMap, simState, error);
}

bool MappingEngine::start(const AppConfig& config, HidManager& hid, SimLink& link,
                          const ButtonConfig& buttonConfig, const EventMap& eventMap,
                          SimState& simState, std::string& error) {
    if (running_.load()) {
        error = "Mapping engine already running";
        return false;
    }
    dispatcher_.reset();
    compiled_ = std::make_unique<CompiledConfig>(config, buttonConfig, eventMap);
    dispatcher_ = std::make_unique<Dispatcher>(*compiled_, link, holds_, outputs_, &latency_);
    running_.store(true);
    if (startParts(*compiled_, hid, link, simState, error)) return true;
    running_.store(false);
    stopParts();
    return false;
}

bool MappingEngine::startParts(const CompiledConfig& compiled, HidManager& hid, SimLink& link,
                               SimState& simState, std::string& error) {
    queue_.open();
    const std::int32_t holdRepeatMs = compiled.app().mobiflight.mapHoldRepeatMs;
    if (!holds_.start(link, &hid, holdRepeatMs, error)) return false;
    if (!outputs_.start(compiled, hid, simState, error)) return false;
    try {
        eventWorker_ = std::thread(&MappingEngine::eventWorkerLoop, this);
    } catch (const std::system_error& e) {
        error = std::string("Failed to start mapping workers: ") + e.what();
        return false;
    }
    return true;
}

void MappingEngine::stop() {
    if (!running_.exchange(false)) return;
    stopParts();
}

// The event worker first: an event in hand may still register a hold,
// which the hold repeater's stop then forgets. A later start must not
// dispatch events that were meant for this run.
void MappingEngine::stopParts() {
    queue_.close();
    if (eventWorker_.joinable()) eventWorker_.join();
    holds_.stop();
    outputs_.stop();
    queue_.clear();
}

void MappingEngine::submit(const HidProtocol::HidEvent& event, const std::string& boardId,
                           std::int32_t index) {
    if (!running_.load()) return;
    queue_.push(PanelEvent{event, boardId, index, clock_.now()});
}

void MappingEngine::eventWorkerLoop() {
    PanelEvent queued;
    while (queue_.pop(queued)) {
        dispatcher_->dispatch(queued);
        if (!running_.load()) return;
    }
}
