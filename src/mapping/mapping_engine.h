#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "common/clock.h"
#include "config/app_config.h"
#include "hid/hid_protocol.h"
#include "log/repeat_limiter.h"

class ButtonConfig;
class EventMap;
class HidManager;
class MobiFlightClient;
class SimConnectClient;
struct SimState;

// Turns panel events into simulator commands (one event worker, in arrival
// order), repeats held map-panning commands (hold worker), and keeps the
// panels' LEDs in line with the simulator (output worker). A held map
// control repeats until its release or a new press is dispatched, the
// engine stops, or the opening of its panel it was held on has ended in the
// HID manager (a panel that comes back under its old index does not resume
// a hold). A failing repeat is warned once, then summed up once a minute.
//
// Threads: start/stop from the owner; submit() from the HID reader threads;
// setSimConnected/notifyOutputsChanged/onLVarPayload from the simulator
// link's threads. The referenced objects must outlive the engine's run.
// The engine holds none of its locks while it calls the HID manager or the
// simulator clients.
class MappingEngine {
public:
    explicit MappingEngine(Clock& clock = Clock::system());
    ~MappingEngine();

    bool start(const AppConfig& config, HidManager& hid, SimConnectClient& simConnect,
               MobiFlightClient& mobiFlight, const ButtonConfig& buttonConfig,
               const EventMap& eventMap, SimState& simState, std::string& error);
    // Idempotent. Events still queued are discarded; at most the event being
    // taken when stop begins is still dispatched.
    void stop();
    bool isRunning() const { return running_.load(); }

    // The HID event sink's work: drops the event when the engine is not
    // running; otherwise, under the queue lock, removes still-queued holds of
    // the same control on the same panel when the event is a release, appends
    // the event and wakes the event worker. Never waits on the simulator link.
    void submit(const HidProtocol::HidEvent& event, const std::string& boardId, std::int32_t index);

    void setSimConnected(bool connected) { simConnected_.store(connected); }
    // Marks the output state changed; the output worker writes it after the
    // debounce interval.
    void notifyOutputsChanged();
    // A payload from the MobiFlight L-variable channel (backlight level).
    void onLVarPayload(const std::string& payload);

    static bool parseBacklightPayload(const std::string& text, double& level);
    static LedCommand computeLedCommand(const OutputProfile& profile, bool simConnected,
                                        bool batteryKnown, bool batteryOn, bool backlightKnown,
                                        double backlightLevel);
    static LedCommand effectCommand(const LedEffectConfig& effect);

    MappingEngine(const MappingEngine&) = delete;
    MappingEngine& operator=(const MappingEngine&) = delete;

private:
    struct QueuedEvent {
        HidProtocol::HidEvent event;
        std::string boardId;
        std::int32_t index = -1;
    };
    struct HoldEntry {
        std::string controlName;
        std::string role;
        std::string command;
        std::string boardId;  // the panel holding the control
        std::int32_t index = -1;
        std::uint64_t connection = 0;  // the panel's opening; 0 when it was not open
        Clock::TimePoint nextDue{};    // epoch: not scheduled yet
    };
    struct DueHold {
        std::string key;
        std::string command;
        std::string boardId;
        std::int32_t index;
        std::uint64_t connection;
    };

    // Event side (dispatch.cpp).
    void dispatch(const QueuedEvent& queued);
    void releaseQueuedCommands(const std::string& controlName, const std::string& role);
    void startOutputHoldOff(const std::string& boardId, std::int32_t index);

    // Frame and hold repeat (mapping_engine.cpp).
    bool dropPendingHoldsLocked(const HidProtocol::HidEvent& event, const std::string& boardId,
                                std::int32_t index);
    void registerHold(const std::string& key, const std::string& controlName,
                      const std::string& role, const std::string& command,
                      const std::string& boardId, std::int32_t index);
    void cancelHold(const std::string& key);
    Clock::Duration holdPeriod() const;
    void eventWorkerLoop();
    void holdWorkerLoop();
    std::vector<DueHold> waitForDueHolds();
    void dropHoldsOfGonePanels(std::vector<DueHold>& batch);
    std::uint64_t panelConnection(const std::string& boardId, std::int32_t index) const;
    void joinWorkers();

    // Output side (output_state.cpp).
    void outputWorkerLoop();
    void applyOutputs();
    enum class HoldOff { None, Active, Expired };
    HoldOff checkHoldOff(const std::string& deviceKey);

    Clock& clock_;
    const AppConfig* config_ = nullptr;
    HidManager* hid_ = nullptr;
    SimConnectClient* simConnect_ = nullptr;
    MobiFlightClient* mobiFlight_ = nullptr;
    const ButtonConfig* buttonConfig_ = nullptr;
    const EventMap* eventMap_ = nullptr;
    SimState* simState_ = nullptr;

    std::atomic<bool> running_{false};
    std::atomic<bool> simConnected_{false};

    std::mutex queueLock_;
    std::condition_variable queueWake_;
    std::deque<QueuedEvent> eventQueue_;  // guarded by queueLock_
    std::thread eventWorker_;

    std::mutex holdLock_;
    std::condition_variable holdWake_;
    std::unordered_map<std::string, HoldEntry> holdTable_;  // guarded by holdLock_
    std::uint64_t holdGeneration_ = 0;  // guarded by holdLock_; bumps on every change
    std::thread holdWorker_;
    RepeatLimiter holdWarnings_;

    std::mutex outputLock_;
    std::condition_variable outputWake_;
    bool outputPending_ = false;         // guarded by outputLock_
    Clock::TimePoint lastChangeTime_{};  // guarded by outputLock_
    std::thread outputWorker_;

    std::mutex holdOffLock_;
    std::unordered_map<std::string, Clock::TimePoint> holdOffTable_;  // guarded by holdOffLock_
};
