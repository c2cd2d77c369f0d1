#include "config/app_config.h"
#include "common/ascii.h"

#include <cstddef>
#include <utility>

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string withoutBlanks(const std::string& text) {
    std::string result;
    result.reserve(text.size());
    for (const char c : text) {
        if (!isBlank(c)) result.push_back(c);
    }
    return result;
}

void upperAscii(std::string& text) {
    text = toUpperAscii(text);
}

bool inPercentRange(std::int32_t value) {
    return value >= 0 && value <= 100;
}

std::string checkBacklight(const std::string& prefix, const BacklightConfig& backlight) {
    if (backlight.min < 0 || backlight.max > 100 || backlight.min > backlight.max) {
        return prefix + "].backlight min/max must be between 0-100";
    }
    if (!inPercentRange(backlight.defaultLevel)) {
        return prefix + "].backlight default must be between 0-100";
    }
    if (!inPercentRange(backlight.value)) return prefix + "].backlight value must be between 0-100";
    if (!(backlight.scale > 0.0)) return prefix + "].backlight scale must be > 0";
    return {};
}

std::string checkProfile(const std::string& name, const OutputProfile& profile) {
    const std::string prefix = "outputs.profiles[" + name;
    std::string problem = checkBacklight(prefix, profile.backlight);
    if (!problem.empty()) return problem;
    const std::string& disconnected = profile.simDisconnected.effect;
    if (!disconnected.empty() && !isValidEffectName(disconnected)) {
        return prefix + "].simDisconnected.effect is invalid";
    }
    const std::string& batteryOff = profile.batteryOff.effect;
    if (!batteryOff.empty() && !isValidEffectName(batteryOff)) {
        return prefix + "].batteryOff.effect is invalid";
    }
    return {};
}

std::string checkMobiFlight(const MobiFlightSettings& mobiflight) {
    if (mobiflight.rpnRateLimitMs < 0) return "mobiflight.rpnRateLimitMs must be >= 0";
    if (mobiflight.mapHoldRepeatMs <= 0) return "mobiflight.mapHoldRepeatMs must be > 0";
    if (!mobiflight.enabled) return {};
    if (mobiflight.commandChannel.empty()) {
        return "mobiflight.commandChannel is required when enabled";
    }
    if (mobiflight.responseChannel.empty()) {
        return "mobiflight.responseChannel is required when enabled";
    }
    if (mobiflight.lvarsChannel.empty()) return "mobiflight.lvarsChannel is required when enabled";
    return {};
}

std::string firstProblem(const AppConfig& config) {
    if (config.vid.empty()) return "hid.vid is required";
    if (config.pid.empty()) return "hid.pid is required";
    if (config.buttonConfigPath.empty()) return "mappings.buttonConfigPath is required";
    std::string problem = checkMobiFlight(config.mobiflight);
    if (!problem.empty()) return problem;
    if (config.cdc.enabled && config.cdc.comPort.empty()) {
        return "cdc.comPort is required when cdc.enabled=1";
    }
    if (config.outputs.debounceMs < 0) return "outputs.debounceMs must be >= 0";
    for (const auto& [name, profile] : config.outputs.profiles) {
        problem = checkProfile(name, profile);
        if (!problem.empty()) return problem;
    }
    return {};
}

}  // namespace

std::string normalizeKey(const std::string& text) {
    std::string result = withoutBlanks(text);
    upperAscii(result);
    return result;
}

std::string normalizeBoardId(const std::string& text) {
    std::string result = withoutBlanks(text);
    if (result.size() >= 2 && result[0] == '0' && (result[1] == 'x' || result[1] == 'X')) {
        result.erase(0, 2);
    }
    upperAscii(result);
    return result;
}

bool isValidEffectName(const std::string& text) {
    const std::string name = normalizeKey(text);
    return name == "OFF" || name == "STEADY" || name == "BREATHE" || name == "FLASH";
}

bool validateAppConfig(const AppConfig& config, std::string& error) {
    std::string problem = firstProblem(config);
    if (problem.empty()) return true;
    error = std::move(problem);
    return false;
}

const DeviceConfig* AppConfig::findDevice(const std::string& boardId, std::int32_t index) const {
    if (!boardId.empty()) {
        const std::string wanted = normalizeBoardId(boardId);
        for (const DeviceConfig& device : devices) {
            if (!device.boardId.empty() && device.boardId == wanted) return &device;
        }
    }
    if (index < 0) return nullptr;
    for (const DeviceConfig& device : devices) {
        if (device.index == index) return &device;
    }
    return nullptr;
}

const OutputProfile* AppConfig::profileFor(const DeviceConfig* entry) const {
    std::string wanted;
    if (entry != nullptr && !entry->ledProfile.empty()) wanted = normalizeKey(entry->ledProfile);
    if (wanted.empty() && entry != nullptr && !entry->role.empty()) {
        const auto it = outputs.roleProfiles.find(normalizeKey(entry->role));
        if (it != outputs.roleProfiles.end()) wanted = normalizeKey(it->second);
    }
    if (wanted.empty()) wanted = normalizeKey(outputs.defaultProfile);

    const auto it = outputs.profiles.find(wanted);
    if (it != outputs.profiles.end()) return &it->second;
    // A name that no profile carries still gets some profile rather than
    // none, so the panel's outputs are driven.
    if (outputs.profiles.empty()) return nullptr;
    return &outputs.profiles.begin()->second;
}
