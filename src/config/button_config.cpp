#include "config/button_config.h"

#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

#include "config/app_config.h"
#include "config/config_file.h"
#include "config/json.h"

namespace {

std::string entryText(const std::string& section, std::size_t i, const char* rest) {
    return section + "[" + std::to_string(i) + "]" + rest;
}

// Command texts end at their first NUL, as the C string they become.
std::string commandText(const std::string& written) {
    return std::string(written.c_str());
}

const ConfigFileTexts kTexts{"Button config not found: ", "Failed to open button config: ",
                             "Button config parse error: ", "Button config root must be an object"};

}  // namespace

bool ButtonConfig::load(const std::string& path, std::string& error) {
    std::string text;
    return readConfigText(path, kTexts, text, error) && loadFromText(text, error, path);
}

bool ButtonConfig::loadFromText(const std::string& text, std::string& error,
                                const std::string& source) {
    JsonParseResult parsed;
    if (!parseConfigObject(text, source, kTexts, parsed, error)) return false;
    controls_.clear();
    return readSection(parsed.root, "buttons", error) && readSection(parsed.root, "knobs", error);
}

bool ButtonConfig::readSection(const JsonValue& root, const std::string& section,
                               std::string& error) {
    const auto it = root.object.find(section);
    if (it == root.object.end()) return true;
    if (it->second.kind != JsonType::Array) {
        error = "'" + section + "' must be an array";
        return false;
    }
    const std::vector<JsonValue>& entries = it->second.array;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (!readEntry(entries[i], section, i, error)) return false;
    }
    return true;
}

bool ButtonConfig::readEntry(const JsonValue& entry, const std::string& section, std::size_t i,
                             std::string& error) {
    if (entry.kind != JsonType::Object) {
        error = entryText(section, i, " must be an object");
        return false;
    }
    std::string name;
    if (!getString(entry, "name", name)) {
        error = entryText(section, i, " missing name");
        return false;
    }
    const auto commands = entry.object.find("commands");
    if (commands == entry.object.end()) return true;
    if (commands->second.kind != JsonType::Object) {
        error = entryText(section, i, ".commands must be an object");
        return false;
    }
    // An entry repeating an earlier name adds to it (only the pairs it names
    // are replaced).
    ActionMap& actions = controls_[normalizeKey(name)];
    for (const auto& [action, roles] : commands->second.object) {
        if (roles.kind != JsonType::Object) continue;
        RoleMap& texts = actions[normalizeKey(action)];
        for (const auto& [role, command] : roles.object) {
            if (command.kind != JsonType::String) continue;
            texts[role.empty() ? kDefaultRole : normalizeKey(role)] = commandText(command.string);
        }
    }
    return true;
}

std::string ButtonConfig::lookup(const std::string& controlName, const std::string& actionKey,
                                 const std::string& role) const {
    if (controlName.empty() || actionKey.empty()) return {};
    const auto control = controls_.find(normalizeKey(controlName));
    if (control == controls_.end()) return {};
    const auto action = control->second.find(normalizeKey(actionKey));
    if (action == control->second.end()) return {};
    const RoleMap& texts = action->second;
    // The DEFAULT fallback is per action: another action's role text does
    // not count.
    auto text = texts.find(role.empty() ? std::string(kDefaultRole) : normalizeKey(role));
    if (text == texts.end()) text = texts.find(kDefaultRole);
    return text == texts.end() ? std::string() : text->second;
}

bool ButtonConfig::hasControl(const std::string& controlName) const {
    return controls_.find(normalizeKey(controlName)) != controls_.end();
}

const ButtonConfig::RoleMap* ButtonConfig::roleTexts(const std::string& normalizedName,
                                                     const std::string& normalizedAction) const {
    const auto control = controls_.find(normalizedName);
    if (control == controls_.end()) return nullptr;
    const auto action = control->second.find(normalizedAction);
    return action == control->second.end() ? nullptr : &action->second;
}

std::vector<std::string> ButtonConfig::roleKeys() const {
    std::vector<std::string> keys;
    for (const auto& [name, actions] : controls_) {
        for (const auto& [action, texts] : actions) {
            for (const auto& [role, text] : texts)
                keys.push_back(role);
        }
    }
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    return keys;
}
