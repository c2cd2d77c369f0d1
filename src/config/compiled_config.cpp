#include "config/compiled_config.h"

#include <utility>

#include "config/button_config.h"
#include "config/event_map.h"

namespace {

constexpr ControlAction kAllActions[kControlActionCount] = {
    ControlAction::Press,
    ControlAction::Release,
    ControlAction::Hold,
    ControlAction::Clockwise,
    ControlAction::CounterClockwise,
    ControlAction::ClockwiseFast,
    ControlAction::CounterClockwiseFast,
};

// The control whose hold means the panel shows its own feedback.
const char kHoldOffControl[] = "NAV_SWAP";
const char* const kManagedMapControls[] = {"MAP_LEFT", "MAP_RIGHT", "MAP_UP", "MAP_DOWN"};

bool isManagedMapName(const std::string& normalizedName) {
    for (const char* name : kManagedMapControls) {
        if (normalizedName == name) return true;
    }
    return false;
}

const std::string& noText() {
    static const std::string empty;
    return empty;
}

// The role's text, else the DEFAULT text, else empty.
std::string textFor(const ButtonConfig::RoleMap& texts, const std::string& roleKey) {
    auto text = texts.find(roleKey);
    if (text == texts.end()) text = texts.find(ButtonConfig::kDefaultRole);
    return text == texts.end() ? std::string() : text->second;
}

}  // namespace

const char* controlActionKey(ControlAction action) {
    switch (action) {
        case ControlAction::Press:
            return "PRESS";
        case ControlAction::Release:
            return "RELEASE";
        case ControlAction::Hold:
            return "HOLD";
        case ControlAction::Clockwise:
            return "CW";
        case ControlAction::CounterClockwise:
            return "CCW";
        case ControlAction::ClockwiseFast:
            return "CW_FAST";
        case ControlAction::CounterClockwiseFast:
            return "CCW_FAST";
    }
    return "";
}

BacklightMode backlightModeOf(const std::string& mode) {
    const std::string name = normalizeKey(mode);
    if (name == "FIXED") return BacklightMode::Fixed;
    if (name == "OFF") return BacklightMode::Off;
    return BacklightMode::LVar;
}

LightEffect lightEffectOf(const std::string& effect) {
    const std::string name = normalizeKey(effect);
    if (name == "STEADY") return LightEffect::Steady;
    if (name == "BREATHE") return LightEffect::Breathe;
    if (name == "FLASH") return LightEffect::Flash;
    return LightEffect::None;
}

CompiledEffect LightProfile::compile(const LedEffectConfig& effect) {
    return CompiledEffect{lightEffectOf(effect.effect), effect.brightness, effect.param0,
                          effect.param1, effect.param2};
}

LightProfile LightProfile::compile(const OutputProfile& profile) {
    return LightProfile{backlightModeOf(profile.backlight.mode), profile.backlight,
                        compile(profile.simDisconnected), compile(profile.batteryOff)};
}

CompiledConfig::CompiledConfig(const AppConfig& config, const ButtonConfig& buttons,
                               const EventMap& eventMap)
    : config_(config) {
    roles_.emplace(ButtonConfig::kDefaultRole, kDefaultRole);
    for (const std::string& key : buttons.roleKeys()) {
        roles_.emplace(key, static_cast<RoleId>(roles_.size()));
    }
    compileControls(buttons, eventMap);
    for (const auto& [type, name] : eventMap.eventTypes())
        typeNames_.emplace(type, name);
    for (const auto& [name, profile] : config.outputs.profiles) {
        lights_.emplace(&profile, LightProfile::compile(profile));
    }
}

void CompiledConfig::compileControls(const ButtonConfig& buttons, const EventMap& eventMap) {
    // Role keys in id order, for filling each action's row.
    std::vector<const std::string*> roleKeys(roles_.size());
    for (const auto& [key, id] : roles_)
        roleKeys[id] = &key;
    for (const auto& [id, name] : eventMap.controlIds()) {
        Control control;
        control.name = name;
        const std::string normalized = normalizeKey(name);
        control.hasEntry = !name.empty() && buttons.hasControl(name);
        control.holdOff = control.hasEntry && normalized == kHoldOffControl;
        control.managedMap = control.hasEntry && isManagedMapName(normalized);
        for (const ControlAction action : kAllActions) {
            const ButtonConfig::RoleMap* texts =
                control.hasEntry ? buttons.roleTexts(normalized, controlActionKey(action))
                                 : nullptr;
            if (!texts) continue;
            std::vector<std::string>& row = control.commands[static_cast<std::size_t>(action)];
            for (const std::string* key : roleKeys)
                row.push_back(textFor(*texts, *key));
        }
        controls_.emplace(id, std::move(control));
    }
}

const CompiledConfig::Control* CompiledConfig::control(std::int32_t controlId) const {
    const auto found = controls_.find(controlId);
    return found == controls_.end() ? nullptr : &found->second;
}

const std::string& CompiledConfig::eventTypeName(std::int32_t type) const {
    const auto found = typeNames_.find(type);
    return found == typeNames_.end() ? noText() : found->second;
}

const std::string& CompiledConfig::command(const Control& control, ControlAction action,
                                           RoleId role) const {
    const std::vector<std::string>& row = control.commands[static_cast<std::size_t>(action)];
    return role < row.size() ? row[role] : noText();
}

RoleId CompiledConfig::roleId(const std::string& role) const {
    if (role.empty()) return kDefaultRole;
    const auto found = roles_.find(normalizeKey(role));
    return found == roles_.end() ? kDefaultRole : found->second;
}

PanelSettings CompiledConfig::panel(const std::string& boardId, std::int32_t index) const {
    PanelSettings settings;
    settings.entry = config_.findDevice(boardId, index);
    if (settings.entry) settings.configuredRole = roleId(settings.entry->role);
    const OutputProfile* profile = config_.profileFor(settings.entry);
    if (profile) settings.light = &lights_.at(profile);
    return settings;
}

const PanelSettings& PanelDirectory::find(const std::string& boardId, std::int32_t index) {
    const std::string key = boardId + "#" + std::to_string(index);
    const auto found = panels_.find(key);
    if (found != panels_.end()) return found->second;
    if (panels_.size() >= kMaxPanels) panels_.clear();
    return panels_.emplace(key, compiled_.panel(boardId, index)).first->second;
}
