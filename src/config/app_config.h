#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "common/program_name.h"

// The application configuration (config.json) and its look-ups.
// Filled once at start-up, read-only (and so freely shared) afterwards.

struct MobiFlightSettings {
    bool enabled = true;
    std::string clientName = kProgramName;
    std::string commandChannel = "MobiFlight.Command";
    std::string responseChannel = "MobiFlight.Response";
    std::string lvarsChannel = "MobiFlight.LVars";
    std::int32_t rpnRateLimitMs = 0;
    std::int32_t mapHoldRepeatMs = 10;
};

struct CdcSettings {
    bool enabled = false;
    std::string comPort;
};

struct BacklightConfig {
    std::string mode = "lvar";
    std::int32_t min = 0;
    std::int32_t max = 100;
    std::int32_t defaultLevel = 80;
    std::int32_t value = 80;
    double scale = 1.0;
};

struct LedEffectConfig {
    std::string effect;
    std::int32_t brightness = 0;
    std::int32_t param0 = 0;
    std::int32_t param1 = 0;
    std::int32_t param2 = 0;
};

struct OutputProfile {
    BacklightConfig backlight;
    LedEffectConfig simDisconnected{"flash", 0, 4, 150, 100};
    LedEffectConfig batteryOff{"breathe", 0, 5, 1000, 50};
};

struct OutputsConfig {
    std::int32_t debounceMs = 50;
    std::string defaultProfile = "default";
    std::map<std::string, OutputProfile> profiles;    // by normalised name
    std::map<std::string, std::string> roleProfiles;  // normalised role -> normalised profile
};

// Where the simulator is when it runs on another computer (the network
// client reaches it over TCP).
struct SimulatorSettings {
    // The port a simulator that accepts network clients is usually given,
    // and the emulated simulator's default.
    static constexpr std::int32_t kDefaultPort = 500;

    // Which SimConnect the program talks through (simulator.client, any
    // letter case): its own built-in client, or the SDK's SimConnect.dll.
    enum class Client { BuiltIn, SdkLibrary };
    static constexpr const char* kBuiltInClient = "built-in";
    static constexpr const char* kSdkClient = "SimConnect.dll";
    Client client = Client::BuiltIn;

    std::string address;  // a name or a numeric address; empty when none is set
    std::int32_t port = kDefaultPort;
    // Whether the program ends when the simulator ends; unset leaves it to
    // where the simulator is (yes on this computer, no over the network).
    std::optional<bool> exitWithSimulator;
};

struct DeviceConfig {
    std::string boardId;  // normalised; empty when not given
    std::int32_t index = -1;
    std::string role;        // as written
    std::string ledProfile;  // as written
};

struct AppConfig {
    std::string vid;
    std::string pid;
    std::int32_t readIntervalMs = 2;
    std::int32_t scanIntervalMs = 1000;
    bool trace = false;
    std::string buttonConfigPath;
    std::string hidEventMapPath;
    MobiFlightSettings mobiflight;
    CdcSettings cdc;
    SimulatorSettings simulator;
    bool loggingDebug = false;
    OutputsConfig outputs;
    std::vector<DeviceConfig> devices;

    // The panel's entry: by board id first, then by index; null when none.
    const DeviceConfig* findDevice(const std::string& boardId, std::int32_t index) const;
    // The output profile for an entry (or for no entry); null when none.
    const OutputProfile* profileFor(const DeviceConfig* entry) const;
};

// Reads, defaults and validates the file at `path` into a freshly
// constructed `config`. False leaves one of the documented texts in `error`;
// the record must then be discarded. Never throws for bad files or file
// system errors. Any thread; no shared state.
bool loadAppConfig(const std::string& path, AppConfig& config, std::string& error);

// The same from a document already in memory; `path` is the file it came
// from (relative paths are resolved against its folder, and the file system
// is asked only whether a hid_event_map.json lies there).
bool loadAppConfigFromText(const std::string& text, const std::string& path, AppConfig& config,
                           std::string& error);

// The final checks, in a fixed order; the first failing one sets `error`.
bool validateAppConfig(const AppConfig& config, std::string& error);

// Comparison forms of names coming from configuration files: blanks
// removed, ASCII letters upper-cased; board ids also lose a leading "0x".
std::string normalizeKey(const std::string& text);
std::string normalizeBoardId(const std::string& text);
bool isValidEffectName(const std::string& text);

// `path` as written in the configuration file at `configPath`: absolute
// paths stay, relative ones are joined to the configuration's folder.
std::string resolveConfigRelativePath(const std::string& configPath, const std::string& path);
