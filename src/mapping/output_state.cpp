#include "mapping/output_state.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "common/ascii.h"
#include "log/logger.h"
#include "log/outside_text.h"
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

OutputState::OutputState(Clock& clock) : payloadWarnings_(clock) {}

void OutputState::start(const CompiledConfig& compiled, PanelOutput& output,
                        Clock::TimePoint now) {
    compiled_ = &compiled;
    panels_ = std::make_unique<PanelDirectory>(compiled);
    output_ = &output;
    pending_ = false;
    lastApply_ = now;
}

void OutputState::panelAdded(const std::string& name, std::int32_t index) {
    panelRemoved(name, index);
    open_.emplace_back(name, index);
}

void OutputState::panelRemoved(const std::string& name, std::int32_t index) {
    open_.erase(std::remove(open_.begin(), open_.end(), std::make_pair(name, index)),
                open_.end());
}

void OutputState::notifyChanged(Clock::TimePoint now) {
    pending_ = true;
    lastChange_ = now;
}

void OutputState::setSimConnected(bool connected, Clock::TimePoint now) {
    simConnected_ = connected;
    notifyChanged(now);
}

void OutputState::setBattery(bool on, Clock::TimePoint now) {
    batteryOn_ = on;
    batteryKnown_ = true;
    notifyChanged(now);
    logDebug(std::string("State update: master battery 2=") + (on ? "1" : "0"));
}

// The panel shows its own feedback for a while (NAV_SWAP hold, hold-off
// event); LED writes pause, and the first write after the pause goes out
// even if unchanged.
void OutputState::startHoldOff(const std::string& boardId, std::int32_t index,
                               Clock::TimePoint now) {
    const std::string deviceKey = boardId.empty() ? "#" + std::to_string(index) : boardId;
    Clock::TimePoint& until = holdOffUntil_[deviceKey];
    until = std::max(until, now + kHoldOffTime);
    if (output_) output_->forgetLed(boardId, index);
}

void OutputState::onLVarPayload(const LVarPayload& payload, Clock::TimePoint now) {
    if (payload.isNumber) {
        onBacklightLevel(payload.number, now);
    } else {
        onLVarPayload(payload.text, now);
    }
}

void OutputState::onLVarPayload(const std::string& payload, Clock::TimePoint now) {
    double level = 0;
    if (parseBacklightPayload(payload, level)) {
        onBacklightLevel(level, now);
    } else if (payload.find(kBacklightVariable) != std::string::npos) {
        payloadWarnings_.warn(kUnparsedBacklight, outsideText(payload));
    }
}

void OutputState::onBacklightLevel(double level, Clock::TimePoint now) {
    backlightLevel_ = level;
    backlightKnown_ = true;
    if (Logger::instance().isDebugEnabled()) {
        char text[64];
        std::snprintf(text, sizeof text, "%f", level);
        logDebug(std::string("State update: backlight ") + kBacklightVariable + "=" + text);
    }
    notifyChanged(now);
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

// A change is written once the debounce interval passed without another
// one; otherwise the state is refreshed a period after the last write.
Clock::TimePoint OutputState::nextDue() const {
    if (!output_) return Clock::TimePoint::max();
    if (pending_) {
        const auto debounce = std::chrono::milliseconds(
            compiled_ ? std::max<std::int32_t>(compiled_->app().outputs.debounceMs, 0) : 0);
        return lastChange_ + debounce;
    }
    return lastApply_ + kRefreshPeriod;
}

Clock::TimePoint OutputState::refresh(Clock::TimePoint now) {
    if (output_ && now >= nextDue()) {
        pending_ = false;
        lastApply_ = now;
        apply(now);
    }
    return nextDue();
}

void OutputState::apply(Clock::TimePoint now) {
    for (const auto& [name, index] : open_) {
        const std::string key = name.empty() ? "#" + std::to_string(index) : name;
        const HoldOff holdOff = checkHoldOff(key, now);
        if (holdOff == HoldOff::Active) continue;
        const LightProfile* profile = panels_->find(name, index).light;
        if (!profile) continue;
        // The panel showed its own feedback meanwhile, whatever was written
        // just before the hold-off began: resend the state even if unchanged.
        if (holdOff == HoldOff::Expired) output_->forgetLed(name, index);
        output_->writeLed(name, index,
                          computeLedCommand(*profile, simConnected_, batteryKnown_, batteryOn_,
                                            backlightKnown_, backlightLevel_));
    }
}

OutputState::HoldOff OutputState::checkHoldOff(const std::string& deviceKey,
                                               Clock::TimePoint now) {
    const auto found = holdOffUntil_.find(deviceKey);
    if (found == holdOffUntil_.end()) return HoldOff::None;
    if (now < found->second) return HoldOff::Active;
    holdOffUntil_.erase(found);
    return HoldOff::Expired;
}
