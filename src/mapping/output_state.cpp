#include "mapping/output_state.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <system_error>
#include <vector>

#include "common/ascii.h"
#include "hid/hid_manager.h"
#include "log/logger.h"
#include "log/outside_text.h"
#include "mapping/sim_state.h"
#include "sim/sim_variables.h"

namespace {

constexpr auto kRefreshPeriod = std::chrono::seconds(1);
constexpr auto kHoldOffTime = std::chrono::milliseconds(1500);
const char kUnparsedBacklight[] = "Backlight LVar payload received but could not be parsed";

std::uint8_t clampByte(std::int64_t value) {
    return static_cast<std::uint8_t>(value < 0 ? 0 : (value > 255 ? 255 : value));
}

std::uint16_t clampWord(std::int64_t value) {
    return static_cast<std::uint16_t>(value < 0 ? 0 : (value > 65535 ? 65535 : value));
}

// strtod with its usual leniency (leading blanks, trailing text); only a
// finite, in-range number counts.
bool readNumber(const char* text, double& value, const char** end) {
    errno = 0;
    char* stop = nullptr;
    const double parsed = std::strtod(text, &stop);
    if (stop == text || errno == ERANGE || !std::isfinite(parsed)) return false;
    value = parsed;
    *end = stop;
    return true;
}

// The backlight percentage in a profile for level x, clamped for the panel.
std::uint8_t backlightLevel(const BacklightConfig& backlight, double x) {
    if (x <= 1.0) x *= 100.0;  // a fraction becomes a percentage
    double level = std::round(x * backlight.scale);
    if (std::isnan(level)) level = backlight.min;
    if (level > backlight.max) {
        level = backlight.max;
    } else if (level < backlight.min) {
        level = backlight.min;
    }
    if (level < 0) return 0;
    if (level > 255) return 255;
    return static_cast<std::uint8_t>(level);
}

}  // namespace

OutputState::OutputState(Clock& clock) : clock_(clock) {}

OutputState::~OutputState() {
    stop();
}

bool OutputState::start(const CompiledConfig& compiled, HidManager& hid, SimState& simState,
                        std::string& error) {
    compiled_ = &compiled;
    panels_ = std::make_unique<PanelDirectory>(compiled);
    hid_ = &hid;
    simState_ = &simState;
    {
        MutexLock guard(lock_);
        running_ = true;
    }
    try {
        worker_ = std::thread(&OutputState::workerLoop, this);
    } catch (const std::system_error& e) {
        stop();
        error = std::string("Failed to start mapping workers: ") + e.what();
        return false;
    }
    return true;
}

void OutputState::stop() {
    {
        MutexLock guard(lock_);
        running_ = false;
    }
    wake_.notify_all();
    if (worker_.joinable()) worker_.join();
}

void OutputState::notifyChanged() {
    {
        MutexLock guard(lock_);
        pending_ = true;
        lastChangeTime_ = clock_.now();
    }
    wake_.notify_all();
}

// The panel shows its own feedback for a while (NAV_SWAP hold, hold-off
// event); LED writes pause, and the first write after the pause goes out
// even if unchanged.
void OutputState::startHoldOff(const std::string& boardId, std::int32_t index) {
    const std::string deviceKey = boardId.empty() ? "#" + std::to_string(index) : boardId;
    {
        MutexLock guard(holdOffLock_);
        const Clock::TimePoint until = clock_.now() + kHoldOffTime;
        auto found = holdOffUntil_.find(deviceKey);
        if (found == holdOffUntil_.end()) {
            holdOffUntil_.emplace(deviceKey, until);
        } else if (found->second < until) {
            found->second = until;
        }
    }
    if (hid_) hid_->forgetLedCommand(boardId, index);
}

void OutputState::onLVarPayload(const LVarPayload& payload) {
    if (payload.isNumber) {
        onBacklightLevel(payload.number);
    } else {
        onLVarPayload(payload.text);
    }
}

void OutputState::onLVarPayload(const std::string& payload) {
    double level = 0;
    if (parseBacklightPayload(payload, level)) {
        onBacklightLevel(level);
    } else if (payload.find(kBacklightVariable) != std::string::npos) {
        payloadWarnings_.warn(kUnparsedBacklight, outsideText(payload));
    }
}

void OutputState::onBacklightLevel(double level) {
    if (simState_) {
        MutexLock guard(simState_->lock);
        simState_->backlightLevel = level;
        simState_->backlightKnown = true;
    }
    if (Logger::instance().isDebugEnabled()) {
        char text[64];
        std::snprintf(text, sizeof text, "%f", level);
        logDebug(std::string("State update: backlight ") + kBacklightVariable + "=" + text);
    }
    notifyChanged();
}

// Accepts a bare number ("0.42") or an assignment naming the variable
// ("L:LIGHTING_POTENTIOMETER_5 = 0.8;"), any letter case. Infinities and
// NaN are refused: they would turn into meaningless LED levels.
bool OutputState::parseBacklightPayload(const std::string& text, double& level) {
    if (text.empty()) return false;
    double value = 0;
    const char* end = nullptr;
    if (readNumber(text.c_str(), value, &end) && *end == '\0' &&
        end == text.c_str() + text.size()) {
        level = value;
        return true;
    }
    const std::string upper = toUpperAscii(text);
    std::size_t at = upper.find(std::string("L:") + kBacklightVariable);
    if (at == std::string::npos) at = upper.find(kBacklightVariable);
    if (at == std::string::npos) return false;
    const std::size_t equals = text.find('=', at);
    if (equals == std::string::npos) return false;
    const std::size_t stop = text.find_first_of(";\r\n", equals + 1);
    const std::string valueText =
        text.substr(equals + 1, stop == std::string::npos ? std::string::npos : stop - equals - 1);
    if (!readNumber(valueText.c_str(), value, &end)) return false;
    level = value;
    return true;
}

LedCommand OutputState::computeLedCommand(const LightProfile& profile, bool simConnected,
                                          bool batteryKnown, bool batteryOn, bool backlightKnown,
                                          double backlightLevelValue) {
    if (!simConnected) return effectCommand(profile.simDisconnected);
    if (batteryKnown && !batteryOn) return effectCommand(profile.batteryOff);

    LedCommand command;
    command.effect = HidProtocol::kLedSteady;
    switch (profile.mode) {
        case BacklightMode::Fixed:
            command.brightness = clampByte(profile.backlight.value);
            break;
        case BacklightMode::Off:
            command.brightness = 0;
            break;
        case BacklightMode::LVar: {
            const double x = backlightKnown ? backlightLevelValue : profile.backlight.defaultLevel;
            command.brightness = backlightLevel(profile.backlight, x);
            break;
        }
    }
    return command;
}

LedCommand OutputState::effectCommand(const CompiledEffect& effect) {
    LedCommand command;
    switch (effect.effect) {
        case LightEffect::Steady:
            command.effect = HidProtocol::kLedSteady;
            command.brightness = clampByte(effect.brightness);
            break;
        case LightEffect::Breathe:
        case LightEffect::Flash:
            command.effect = effect.effect == LightEffect::Breathe ? HidProtocol::kLedBreathe
                                                                   : HidProtocol::kLedFlash;
            command.param0 = clampByte(effect.param0);
            command.param1 = clampWord(effect.param1);
            command.param2 = clampByte(effect.param2);
            break;
        case LightEffect::None:
            break;
    }
    return command;
}

LedCommand OutputState::computeLedCommand(const OutputProfile& profile, bool simConnected,
                                          bool batteryKnown, bool batteryOn, bool backlightKnown,
                                          double backlightLevelValue) {
    return computeLedCommand(LightProfile::compile(profile), simConnected, batteryKnown, batteryOn,
                             backlightKnown, backlightLevelValue);
}

LedCommand OutputState::effectCommand(const LedEffectConfig& effect) {
    return effectCommand(LightProfile::compile(effect));
}

void OutputState::workerLoop() {
    while (waitForChange()) {
        apply();
        payloadWarnings_.poll();
    }
}

// Until a change (then through its debounce interval) or the refresh
// period; false once stopped.
bool OutputState::waitForChange() {
    MutexLock lock(lock_);
    if (!running_) return false;
    if (!pending_) {
        clock_.waitUntil(wake_, lock.native(), clock_.now() + kRefreshPeriod,
                         [this]() REQUIRES(lock_) { return !running_ || pending_; });
    }
    if (!running_) return false;
    if (pending_) {
        waitOutDebounce(lock);
        pending_ = false;
    }
    return running_;
}

// Every notice during the wait pushes the write further out.
void OutputState::waitOutDebounce(MutexLock& lock) {
    const auto debounce = std::chrono::milliseconds(
        compiled_ ? std::max<std::int32_t>(compiled_->app().outputs.debounceMs, 0) : 0);
    while (debounce.count() > 0 && running_) {
        const Clock::TimePoint changed = lastChangeTime_;
        const Clock::TimePoint target = changed + debounce;
        if (clock_.now() >= target) break;
        clock_.waitUntil(wake_, lock.native(), target,
                         [&]() REQUIRES(lock_) { return !running_ || lastChangeTime_ != changed; });
    }
}

void OutputState::apply() {
    if (!panels_ || !hid_ || !simState_) return;
    bool batteryKnown, batteryOn, backlightKnown;
    double backlight;
    {
        MutexLock guard(simState_->lock);
        batteryKnown = simState_->batteryKnown;
        batteryOn = simState_->batteryOn;
    }
    {
        MutexLock guard(simState_->lock);
        backlightKnown = simState_->backlightKnown;
        backlight = simState_->backlightLevel;
    }
    const bool connected = simConnected_.load();

    for (const HidDeviceInfo& device : hid_->listDevices()) {
        const std::string key =
            device.name.empty() ? "#" + std::to_string(device.index) : device.name;
        const HoldOff holdOff = checkHoldOff(key);
        if (holdOff == HoldOff::Active) continue;
        const LightProfile* profile = panels_->find(device.name, device.index).light;
        if (!profile) continue;
        // The panel showed its own feedback meanwhile, whatever was written
        // just before the hold-off began: resend the state even if unchanged.
        if (holdOff == HoldOff::Expired) hid_->forgetLedCommand(device.name, device.index);
        hid_->writeLedCommand(device.name, device.index,
                              computeLedCommand(*profile, connected, batteryKnown, batteryOn,
                                                backlightKnown, backlight));
    }
}

OutputState::HoldOff OutputState::checkHoldOff(const std::string& deviceKey) {
    MutexLock guard(holdOffLock_);
    const auto found = holdOffUntil_.find(deviceKey);
    if (found == holdOffUntil_.end()) return HoldOff::None;
    if (clock_.now() < found->second) return HoldOff::Active;
    holdOffUntil_.erase(found);
    return HoldOff::Expired;
}
