#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <string>
#include <thread>
#include <unordered_map>

#include "common/clock.h"
#include "common/mutex.h"
#include "config/app_config.h"
#include "hid/hid_protocol.h"
#include "log/repeat_limiter.h"

class HidManager;
struct SimState;

// The panels' LED state: computed from the simulator facts and each panel's
// output profile, written after changes (debounced) and refreshed once a
// second by the output worker. A panel that shows its own feedback (hold-off)
// gets no LED writes for a while, and the first write after it goes out even
// if unchanged.
//
// Threads: start/stop from the engine's owner; setSimConnected,
// notifyChanged and onLVarPayload from the simulator link's threads;
// startHoldOff from the event worker. Locks: lock_ (pending change) and
// holdOffLock_, never both; the HID manager is called without either. The
// referenced objects must outlive the run.
class OutputState {
public:
    explicit OutputState(Clock& clock);
    ~OutputState();

    bool start(const AppConfig& config, HidManager& hid, SimState& simState, std::string& error);
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
    // The panel shows its own feedback now: LED writes to it pause.
    void startHoldOff(const std::string& boardId, std::int32_t index) EXCLUDES(holdOffLock_);

    static bool parseBacklightPayload(const std::string& text, double& level);
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
    const AppConfig* config_ = nullptr;
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
