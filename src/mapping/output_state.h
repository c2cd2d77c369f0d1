#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <cstdint>
#include <string>
#include <thread>
#include <unordered_map>

#include "common/clock.h"
#include "common/mutex.h"
#include "config/app_config.h"
#include "config/compiled_config.h"
#include "hid/hid_protocol.h"
#include "log/repeat_limiter.h"
#include "sim/lvar_payload.h"

class HidManager;
struct SimState;

// The panels' LED state: computed from the simulator facts and each panel's
// output profile, written after changes (debounced) and refreshed once a
// second by the output worker (each panel's profile is resolved at its first
// refresh). A panel that shows its own feedback (hold-off)
// gets no LED writes for a while, and the first write after it goes out even
// if unchanged.
//
// Threads: start/stop from the engine's owner; setSimConnected,
// notifyChanged, onLVarPayload and onBacklightLevel from the simulator
// link's threads;
// startHoldOff from the event worker. Locks: lock_ (pending change) and
// holdOffLock_, never both; the HID manager is called without either. The
// referenced objects must outlive the run.
class OutputState {
public:
    explicit OutputState(Clock& clock);
    ~OutputState();

    bool start(const CompiledConfig& compiled, HidManager& hid, SimState& simState,
               std::string& error);
    // Idempotent.
    void stop();

    void setSimConnected(bool connected) { simConnected_.store(connected); }
    // Marks the state changed; the worker writes it after the debounce
    // interval.
    void notifyChanged() EXCLUDES(lock_);
    // A payload from the MobiFlight L-variable channel (backlight level).
    // One that names the backlight variable but does not parse is logged
    // through a repeat limiter (its first line quotes it, cut, through
    // outsideText()), whatever it holds.
    void onLVarPayload(const std::string& payload);
    // The same for any payload of that channel: a number is the level.
    void onLVarPayload(const LVarPayload& payload);
    // The backlight level as the simulator reports it (a fraction, or a
    // percentage above 1).
    void onBacklightLevel(double level);
    // The panel shows its own feedback now: LED writes to it pause.
    void startHoldOff(const std::string& boardId, std::int32_t index) EXCLUDES(holdOffLock_);

    static bool parseBacklightPayload(const std::string& text, double& level);
    static LedCommand computeLedCommand(const LightProfile& profile, bool simConnected,
                                        bool batteryKnown, bool batteryOn, bool backlightKnown,
                                        double backlightLevel);
    static LedCommand effectCommand(const CompiledEffect& effect);
    // The same for a profile as configured (compiled first).
    static LedCommand computeLedCommand(const OutputProfile& profile, bool simConnected,
                                        bool batteryKnown, bool batteryOn, bool backlightKnown,
                                        double backlightLevel);
    static LedCommand effectCommand(const LedEffectConfig& effect);

    OutputState(const OutputState&) = delete;
    OutputState& operator=(const OutputState&) = delete;

private:
    enum class HoldOff { None, Active, Expired };

    void workerLoop();
    bool waitForChange() EXCLUDES(lock_);
    void waitOutDebounce(MutexLock& lock) REQUIRES(lock_);
    void apply() EXCLUDES(lock_, holdOffLock_);
    HoldOff checkHoldOff(const std::string& deviceKey) EXCLUDES(holdOffLock_);

    Clock& clock_;
    RepeatLimiter payloadWarnings_{clock_};  // polled by the worker
    const CompiledConfig* compiled_ = nullptr;
    std::unique_ptr<PanelDirectory> panels_;  // the worker's
    HidManager* hid_ = nullptr;
    SimState* simState_ = nullptr;
    std::atomic<bool> simConnected_{false};
    std::thread worker_;

    Mutex lock_;
    std::condition_variable wake_;
    bool running_ GUARDED_BY(lock_) = false;
    bool pending_ GUARDED_BY(lock_) = false;
    Clock::TimePoint lastChangeTime_ GUARDED_BY(lock_){};

    Mutex holdOffLock_;
    std::unordered_map<std::string, Clock::TimePoint> holdOffUntil_ GUARDED_BY(holdOffLock_);
};
