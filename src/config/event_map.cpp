#include "config/event_map.h"

#include "config/config_file.h"
#include "config/json.h"

namespace {

// Members are visited in key order, so when two names carry one code the
// name that sorts last is kept. Returns how many numeric members were read.
int readTable(const JsonValue& root, const char* key, std::map<std::int32_t, std::string>& table) {
    const JsonValue* section = nullptr;
    if (!getObject(root, key, section)) return 0;
    int count = 0;
    for (const auto& [name, value] : section->object) {
        if (value.kind != JsonType::Number) continue;
        table[jsonNumberToInt32(value.number)] = name;
        ++count;
    }
    return count;
}

std::string nameOf(const std::map<std::int32_t, std::string>& table, std::int32_t code) {
    const auto it = table.find(code);
    return it == table.end() ? std::string() : it->second;
}

const ConfigFileTexts kTexts{"Event map not found: ", "Failed to open event map: ",
                             "Event map parse error: ", "Event map root must be an object"};

}  // namespace

bool EventMap::load(const std::string& path, std::string& error) {
    std::string text;
    return readConfigText(path, kTexts, text, error) && loadFromText(text, error, path);
}

bool EventMap::loadFromText(const std::string& text, std::string& error,
                            const std::string& source) {
    JsonParseResult parsed;
    if (!parseConfigObject(text, source, kTexts, parsed, error)) return false;
    eventTypes_.clear();
    controlIds_.clear();
    const int types = readTable(parsed.root, "event_types", eventTypes_);
    const int controls = readTable(parsed.root, "control_ids", controlIds_);
    if (types == 0) {
        error = "Event map missing valid event_types entries";
        return false;
    }
    if (controls == 0) {
        error = "Event map missing valid control_ids entries";
        return false;
    }
    return true;
}

std::string EventMap::eventTypeName(std::int32_t type) const {
    return nameOf(eventTypes_, type);
}

std::string EventMap::controlName(std::int32_t controlId) const {
    return nameOf(controlIds_, controlId);
}
