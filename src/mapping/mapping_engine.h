#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "common/clock.h"
#include "config/app_config.h"
#include "hid/hid_protocol.h"

class ButtonConfig;
class EventMap;
class HidManager;
class MobiFlightClient;
class SimConnectClient;
struct SimState;

// Turns panel events into simulator commands (one event worker, in arrival
// order), repeats held map-panning commands (hold worker), and keeps the
// panels' LEDs in line with the simulator (output worker).
//
// Threads: start/stop from the owner; submit() from the HID reader threads;
// setSimConnected/notifyOutputsChanged/onLVarPayload from the simulator
// link's threads. The referenced objects must outlive the engine's run.
class MappingEngine {
public:
    explicit MappingEngine(Clock& clock = Clock::system());
    ~MappingEngine();

    bool start(const AppConfig& config, HidManager& hid, SimConnectClient& simConnect,
               MobiFlightClient& mobiFlight, const ButtonConfig& buttonConfig,
               const EventMap& eventMap, SimState& simState, std::string& error);
    void stop();
    bool isRunning() const { return running_.load(); }

    // The HID event sink's work: drops the event when the engine is not
    // running; otherwise, under the queue lock, removes still-queued holds of
    // the same control when the event is a release, appends the event and
    // wakes the event worker. Never waits on the simulator link.
    void submit(const HidProtocol::HidEvent& event, const std::string& boardId, std::int32_t index);

    void setSimConnected(bool connected) { simConnected_.store(connected); }
    void notifyOutputsChanged();
    void onLVarPayload(const std::string& payload);

    static bool parseBacklightPayload(const std::string& text, double& level);
    static LedCommand computeLedCommand(const OutputProfile& profile, bool simConnected,
                                        bool batteryKnown, bool batteryOn, bool backlightKnown,
                                        double backlightLevel);
    static LedCommand effectCommand(const LedEffectConfig& effect);

    MappingEngine(const MappingEngine&) = delete;
    MappingEngine& operator=(const MappingEngine&) = delete;

private:
    Clock& clock_;
    std::atomic<bool> running_{false};
    std::atomic<bool> simConnected_{false};
};
