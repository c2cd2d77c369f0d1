#include "mapping/mapping_engine.h"

// Placeholder until the mapping engine is written.
MappingEngine::MappingEngine(Clock& clock) : clock_(clock) {}
MappingEngine::~MappingEngine() { stop(); }
bool MappingEngine::start(const AppConfig&, HidManager&, SimConnectClient&, MobiFlightClient&,
                          const ButtonConfig&, const EventMap&, SimState&, std::string& error) {
    if (running_.exchange(true)) {
        error = "Mapping engine already running";
        return false;
    }
    return true;
}
void MappingEngine::stop() { running_ = false; }
void MappingEngine::submit(const HidProtocol::HidEvent&, const std::string&, std::int32_t) {}
void MappingEngine::notifyOutputsChanged() {}
void MappingEngine::onLVarPayload(const std::string&) {}
bool MappingEngine::parseBacklightPayload(const std::string&, double&) { return false; }
LedCommand MappingEngine::computeLedCommand(const OutputProfile&, bool, bool, bool, bool, double) { return {}; }
LedCommand MappingEngine::effectCommand(const LedEffectConfig&) { return {}; }
