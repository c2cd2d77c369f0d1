#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "common/clock.h"
#include "config/app_config.h"
#include "config/compiled_config.h"
#include "hid/hid_protocol.h"
#include "log/repeat_limiter.h"
#include "sim/lvar_payload.h"

// Where LED commands go: the panels (HidPanelOutput over the HID manager)
// or a test's recorder. Called on the engine's thread; must not block on a
// device.
class PanelOutput {
public:
    virtual ~PanelOutput() = default;
    // Writes the command to the panel (by name, else index); an identical
    // command to the last one written may be skipped.
    virtual void writeLed(const std::string& name, std::int32_t index,
                          const LedCommand& command) = 0;
    // The next command for the panel is written even if unchanged.
    virtual void forgetLed(const std::string& name, std::int32_t index) = 0;
};

// The panels' LED state: computed from the simulator facts and each panel's
// output profile, written after changes (debounced) and refreshed once a
// second (each panel's profile is resolved at its first refresh). A panel
// that shows its own feedback (hold-off) gets no LED writes for a while,
// and the first write after it goes out even if unchanged.
//
// Threads: one thread at a time (the engine's); no lock, no thread of its
// own. The configuration, the output and the clock (for the payload
// warnings' minutes) must outlive it.
class OutputState {
public:
    explicit OutputState(Clock& clock);

    // The configuration and where commands go; the first refresh is due
    // one period after `now`.
    void start(const CompiledConfig& compiled, PanelOutput& output, Clock::TimePoint now);
    void panelAdded(const std::string& name, std::int32_t index);
    void panelRemoved(const std::string& name, std::int32_t index);

    // Simulator facts; each marks the state changed, written after the
    // debounce interval.
    void setSimConnected(bool connected, Clock::TimePoint now);
    void setBattery(bool on, Clock::TimePoint now);
    // The backlight level as the simulator reports it (a fraction, or a
    // percentage above 1).
    void onBacklightLevel(double level, Clock::TimePoint now);
    // A payload from the MobiFlight L-variable channel: a number is the
    // level. Text that names the backlight variable but does not parse is
    // logged through a repeat limiter (its first line quotes it, cut,
    // through outsideText()), whatever it holds.
    void onLVarPayload(const LVarPayload& payload, Clock::TimePoint now);
    void onLVarPayload(const std::string& payload, Clock::TimePoint now);
    void notifyChanged(Clock::TimePoint now);
    // The panel shows its own feedback now: LED writes to it pause.
    void startHoldOff(const std::string& boardId, std::int32_t index, Clock::TimePoint now);

    // Writes every panel's LEDs when a change's debounce or the refresh
    // period is over at `now`; returns when it is due next.
    Clock::TimePoint refresh(Clock::TimePoint now);
    Clock::TimePoint nextDue() const;
    RepeatLimiter& warnings() { return payloadWarnings_; }

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

    void apply(Clock::TimePoint now);
    HoldOff checkHoldOff(const std::string& deviceKey, Clock::TimePoint now);

    RepeatLimiter payloadWarnings_;
    const CompiledConfig* compiled_ = nullptr;
    std::unique_ptr<PanelDirectory> panels_;
    PanelOutput* output_ = nullptr;
    std::vector<std::pair<std::string, std::int32_t>> open_;  // in the order they came
    bool simConnected_ = false;
    bool batteryKnown_ = false;
    bool batteryOn_ = false;
    bool backlightKnown_ = false;
    double backlightLevel_ = 0.0;
    bool pending_ = false;
    Clock::TimePoint lastChange_{};
    Clock::TimePoint lastApply_{};
    std::unordered_map<std::string, Clock::TimePoint> holdOffUntil_;
};
