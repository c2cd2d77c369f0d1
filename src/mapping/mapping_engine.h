#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "common/clock.h"
#include "config/app_config.h"
#include "hid/hid_protocol.h"
#include "mapping/event_queue.h"
#include "mapping/hold_repeater.h"
#include "mapping/latency_summary.h"
#include "mapping/output_state.h"

class ButtonConfig;
class CompiledConfig;
class Dispatcher;
class EventMap;
class HidManager;
class MobiFlightClient;
class SimConnectClient;
class SimLink;
struct SimState;

// Turns panel events into simulator commands (one event worker, in arrival
// order, through the Dispatcher), repeats held map-panning commands
// (HoldRepeater, its own worker), and keeps the panels' LEDs in line with
// the simulator (OutputState, its own worker). With debug output on, the
// time from a report being read (submit()) to its command being handed to
// the link (the Dispatcher) is summed up once a minute (LatencySummary,
// polled by the hold repeater's worker).
//
// Threads: start/stop from the owner; submit() from the HID reader threads;
// setSimConnected/notifyOutputsChanged/onLVarPayload from the simulator
// link's threads. The referenced objects must outlive the engine's run.
// The engine holds none of its locks while it calls the HID manager or the
// simulator link. Each part has its own lock (see its header); none is
// taken while another is held.
class MappingEngine {
public:
    explicit MappingEngine(Clock& clock = Clock::system());
    ~MappingEngine();

    bool start(const AppConfig& config, HidManager& hid, SimLink& link,
               const ButtonConfig& buttonConfig, const EventMap& eventMap, SimState& simState,
               std::string& error);
    // The same over the program's simulator clients (a ClientSimLink the
    // engine owns).
    bool start(const AppConfig& config, HidManager& hid, SimConnectClient& simConnect,
               MobiFlightClient& mobiFlight, const ButtonConfig& buttonConfig,
               const EventMap& eventMap, SimState& simState, std::string& error);
    // Idempotent. Events still queued are discarded; at most the event being
    // taken when stop begins is still dispatched.
    void stop();
    bool isRunning() const { return running_.load(); }

    // The HID event sink's work, on the panel's reader thread right after
    // the report was read and decoded (its read time is taken here): drops
    // the event when the engine is not running; otherwise queues it (see
    // EventQueue) and wakes the event worker. Never waits on the simulator
    // link.
    void submit(const HidProtocol::HidEvent& event, const std::string& boardId, std::int32_t index);

    void setSimConnected(bool connected) { outputs_.setSimConnected(connected); }
    // Marks the output state changed; the output worker writes it after the
    // debounce interval.
    void notifyOutputsChanged() { outputs_.notifyChanged(); }
    // A payload from the MobiFlight L-variable channel (backlight level).
    void onLVarPayload(const std::string& payload) { outputs_.onLVarPayload(payload); }
    void onLVarPayload(const LVarPayload& payload) { outputs_.onLVarPayload(payload); }

    MappingEngine(const MappingEngine&) = delete;
    MappingEngine& operator=(const MappingEngine&) = delete;

private:
    bool startParts(const CompiledConfig& compiled, HidManager& hid, SimLink& link,
                    SimState& simState, std::string& error);
    void eventWorkerLoop();
    void stopParts();

    Clock& clock_;
    EventQueue queue_;
    LatencySummary latency_;
    HoldRepeater holds_;
    OutputState outputs_;
    std::unique_ptr<SimLink> ownedLink_;        // start() over the clients only
    std::unique_ptr<CompiledConfig> compiled_;  // set by start(), kept until the next
    std::unique_ptr<Dispatcher> dispatcher_;    // set while running; event worker only
    std::atomic<bool> running_{false};
    std::thread eventWorker_;
};
