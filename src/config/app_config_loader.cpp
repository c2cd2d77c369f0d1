// Reading config.json into an AppConfig: key table, defaults and the order
// of the checks. The record's look-ups and the final check are in
// app_config.cpp.

#include <filesystem>
#include <optional>
#include <system_error>
#include <utility>

#include "config/app_config.h"

#include "common/ascii.h"
#include "config/config_file.h"
#include "config/json.h"
#include "platform/paths.h"

namespace {

// Flags are numbers only: a JSON true/false leaves the flag as it was.
void readFlag(const JsonValue& object, const std::string& key, bool& out) {
    std::int32_t value = 0;
    if (getInt(object, key, value)) out = value != 0;
}

// The flag, when the key holds a number.
void readOptionalFlag(const JsonValue& object, const std::string& key, std::optional<bool>& out) {
    std::int32_t value = 0;
    if (getInt(object, key, value)) out = value != 0;
}

bool hasMember(const JsonValue& object, const std::string& key) {
    return object.object.find(key) != object.object.end();
}

// The client is what the user asked for: an unknown name is refused, not
// replaced by the default, which would hide the mistake.
bool readSimulatorClient(const JsonValue& section, SimulatorSettings& simulator,
                         std::string& error) {
    if (!hasMember(section, "client")) return true;
    std::string name;
    if (getString(section, "client", name)) {
        const std::string key = toLowerAscii(name);
        if (key == toLowerAscii(SimulatorSettings::kBuiltInClient)) {
            simulator.client = SimulatorSettings::Client::BuiltIn;
            return true;
        }
        if (key == toLowerAscii(SimulatorSettings::kSdkClient)) {
            simulator.client = SimulatorSettings::Client::SdkLibrary;
            return true;
        }
    }
    error = std::string("simulator.client must be \"") + SimulatorSettings::kBuiltInClient +
            "\" or \"" + SimulatorSettings::kSdkClient + "\"";
    return false;
}

// Unlike other optional keys, a simulator address or port of the wrong type
// is refused: ignored, it would send the program elsewhere without a word.
bool readSimulator(const JsonValue& root, SimulatorSettings& simulator, std::string& error) {
    if (!hasMember(root, "simulator")) return true;
    const JsonValue* section = nullptr;
    if (!getObject(root, "simulator", section)) {
        error = "'simulator' must be an object";
        return false;
    }
    if (hasMember(*section, "address")) {
        if (!getString(*section, "address", simulator.address)) {
            error = "simulator.address must be a string";
            return false;
        }
        if (simulator.address.empty()) {
            error = "simulator.address must not be empty";
            return false;
        }
    }
    // A port that is no number fails the range check of the final checks.
    if (hasMember(*section, "port") && !getInt(*section, "port", simulator.port)) {
        simulator.port = 0;
    }
    readOptionalFlag(*section, "exitWithSimulator", simulator.exitWithSimulator);
    return readSimulatorClient(*section, simulator, error);
}

bool readHid(const JsonValue& root, AppConfig& config, std::string& error) {
    const JsonValue* hid = nullptr;
    if (!getObject(root, "hid", hid)) {
        error = "Missing 'hid' section";
        return false;
    }
    if (!getString(*hid, "vid", config.vid)) {
        error = "Missing or invalid 'hid.vid'";
        return false;
    }
    if (!getString(*hid, "pid", config.pid)) {
        error = "Missing or invalid 'hid.pid'";
        return false;
    }
    getInt(*hid, "readIntervalMs", config.readIntervalMs);
    getInt(*hid, "scanIntervalMs", config.scanIntervalMs);
    readFlag(*hid, "trace", config.trace);
    return true;
}

// Leaves the two paths as written; they are resolved once all sections
// are read.
bool readMappings(const JsonValue& root, AppConfig& config, std::string& error) {
    const JsonValue* mappings = nullptr;
    if (!getObject(root, "mappings", mappings)) {
        error = "Missing 'mappings' section";
        return false;
    }
    if (!getString(*mappings, "buttonConfigPath", config.buttonConfigPath)) {
        error = "Missing or invalid 'mappings.buttonConfigPath'";
        return false;
    }
    getString(*mappings, "hidEventMapPath", config.hidEventMapPath);
    return true;
}

void readOptionalSections(const JsonValue& root, AppConfig& config) {
    const JsonValue* section = nullptr;
    if (getObject(root, "mobiflight", section)) {
        MobiFlightSettings& mf = config.mobiflight;
        readFlag(*section, "enabled", mf.enabled);
        getString(*section, "clientName", mf.clientName);
        getString(*section, "commandChannel", mf.commandChannel);
        getString(*section, "responseChannel", mf.responseChannel);
        getString(*section, "lvarsChannel", mf.lvarsChannel);
        getInt(*section, "rpnRateLimitMs", mf.rpnRateLimitMs);
        getInt(*section, "mapHoldRepeatMs", mf.mapHoldRepeatMs);
    }
    if (getObject(root, "cdc", section)) {
        readFlag(*section, "enabled", config.cdc.enabled);
        getString(*section, "comPort", config.cdc.comPort);
    }
    if (getObject(root, "logging", section)) readFlag(*section, "debug", config.loggingDebug);
}

void readBacklight(const JsonValue& object, BacklightConfig& backlight) {
    if (getString(object, "mode", backlight.mode)) backlight.mode = normalizeKey(backlight.mode);
    getInt(object, "min", backlight.min);
    getInt(object, "max", backlight.max);
    getInt(object, "default", backlight.defaultLevel);
    getInt(object, "value", backlight.value);
    const auto scale = object.object.find("scale");
    if (scale != object.object.end() && scale->second.kind == JsonType::Number) {
        backlight.scale = scale->second.number;
    }
}

// count, periodMs and level are second names of the three parameters and,
// read last, win over them.
void readEffect(const JsonValue& object, LedEffectConfig& effect) {
    if (getString(object, "effect", effect.effect)) effect.effect = normalizeKey(effect.effect);
    getInt(object, "brightness", effect.brightness);
    getInt(object, "param0", effect.param0);
    getInt(object, "param1", effect.param1);
    getInt(object, "param2", effect.param2);
    getInt(object, "count", effect.param0);
    getInt(object, "periodMs", effect.param1);
    getInt(object, "level", effect.param2);
}

OutputProfile readProfile(const JsonValue& object) {
    OutputProfile profile;
    const JsonValue* part = nullptr;
    if (getObject(object, "backlight", part)) readBacklight(*part, profile.backlight);
    if (getObject(object, "simDisconnected", part)) readEffect(*part, profile.simDisconnected);
    if (getObject(object, "batteryOff", part)) readEffect(*part, profile.batteryOff);
    return profile;
}

void readRoleProfiles(const JsonValue& object, OutputsConfig& outputs) {
    for (const auto& [name, value] : object.object) {
        if (value.kind != JsonType::String) continue;
        std::string role = normalizeKey(name);
        std::string profile = normalizeKey(value.string);
        if (role.empty() || profile.empty()) continue;
        outputs.roleProfiles[std::move(role)] = std::move(profile);
    }
}

void readProfiles(const JsonValue& object, OutputsConfig& outputs) {
    for (const auto& [name, value] : object.object) {
        if (value.kind != JsonType::Object) continue;
        std::string key = normalizeKey(name);
        if (key.empty()) continue;
        outputs.profiles[std::move(key)] = readProfile(value);
    }
}

void readOutputs(const JsonValue& root, OutputsConfig& outputs) {
    outputs = OutputsConfig();
    const JsonValue* section = nullptr;
    if (!getObject(root, "outputs", section)) return;
    getInt(*section, "debounceMs", outputs.debounceMs);
    if (getString(*section, "defaultProfile", outputs.defaultProfile)) {
        outputs.defaultProfile = normalizeKey(outputs.defaultProfile);
    }
    const JsonValue* part = nullptr;
    if (getObject(*section, "roleProfiles", part)) readRoleProfiles(*part, outputs);
    if (getObject(*section, "profiles", part)) readProfiles(*part, outputs);
}

bool fileExists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(platform::toPath(path), ec);
}

void resolvePaths(const std::string& configPath, AppConfig& config) {
    config.buttonConfigPath = resolveConfigRelativePath(configPath, config.buttonConfigPath);
    config.hidEventMapPath = resolveConfigRelativePath(configPath, config.hidEventMapPath);
    if (!config.hidEventMapPath.empty()) return;
    // Without a configured map, one lying beside the configuration is used.
    const std::string beside = resolveConfigRelativePath(configPath, "hid_event_map.json");
    if (fileExists(beside)) config.hidEventMapPath = beside;
}

bool readDevice(const JsonValue& element, std::size_t i, AppConfig& config, std::string& error) {
    const std::string where = "devices[" + std::to_string(i) + "]";
    if (element.kind != JsonType::Object) {
        error = where + " must be an object";
        return false;
    }
    DeviceConfig device;
    std::string boardId;
    if (getString(element, "boardId", boardId) && !boardId.empty()) {
        device.boardId = normalizeBoardId(boardId);
    }
    getInt(element, "index", device.index);
    getString(element, "role", device.role);
    getString(element, "ledProfile", device.ledProfile);
    if (device.boardId.empty() && device.index < 0) {
        error = where + " must include boardId or index";
        return false;
    }
    if (device.index < -1) {
        error = where + " index must be >= 0";
        return false;
    }
    config.devices.push_back(std::move(device));
    return true;
}

bool readDevices(const JsonValue& root, AppConfig& config, std::string& error) {
    config.devices.clear();
    const auto it = root.object.find("devices");
    if (it == root.object.end()) return true;
    if (it->second.kind != JsonType::Array) {
        error = "'devices' must be an array";
        return false;
    }
    const std::vector<JsonValue>& elements = it->second.array;
    for (std::size_t i = 0; i < elements.size(); ++i) {
        if (!readDevice(elements[i], i, config, error)) return false;
    }
    return true;
}

// After a successful load the default profile always exists.
void ensureDefaultProfile(OutputsConfig& outputs) {
    if (outputs.defaultProfile.empty()) outputs.defaultProfile = "DEFAULT";
    const std::string name = normalizeKey(outputs.defaultProfile);
    if (outputs.profiles.find(name) == outputs.profiles.end()) outputs.profiles[name] = {};
}

bool isSeparator(char c) {
    return c == '\\' || c == '/';
}
bool isAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Windows rules on every platform, so a configuration written on Windows
// means the same wherever it is read: "C:\x" or "C:/x", or "\\server\x".
bool isAbsoluteConfigPath(const std::string& path) {
    if (path.size() < 3) return false;
    if (isAsciiLetter(path[0]) && path[1] == ':' && isSeparator(path[2])) return true;
    return isSeparator(path[0]) && isSeparator(path[1]) && !isSeparator(path[2]);
}

const ConfigFileTexts kTexts{"Config file not found: ", "Failed to open config file: ",
                             "Config parse error: ", "Config root must be an object"};

}  // namespace

std::string resolveConfigRelativePath(const std::string& configPath, const std::string& path) {
    if (path.empty() || isAbsoluteConfigPath(path)) return path;
    const std::string folder = platform::parentPath(configPath);
    if (folder.empty()) return path;
    return platform::joinPath(folder, path);
}

bool loadAppConfig(const std::string& path, AppConfig& config, std::string& error) {
    std::string text;
    return readConfigText(path, kTexts, text, error) &&
           loadAppConfigFromText(text, path, config, error);
}

bool loadAppConfigFromText(const std::string& text, const std::string& path, AppConfig& config,
                           std::string& error) {
    JsonParseResult parsed;
    if (!parseConfigObject(text, path, kTexts, parsed, error)) return false;
    const JsonValue& root = parsed.root;
    if (!readHid(root, config, error) || !readMappings(root, config, error)) return false;
    readOptionalSections(root, config);
    if (!readSimulator(root, config.simulator, error)) return false;
    readOutputs(root, config.outputs);
    resolvePaths(path, config);
    if (!readDevices(root, config, error)) return false;
    ensureDefaultProfile(config.outputs);
    return validateAppConfig(config, error);
}
