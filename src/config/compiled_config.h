#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "config/app_config.h"

class ButtonConfig;
class EventMap;

// The configuration in the form the event path and the LED refresh read it:
// every name a configuration file writes as text (actions, roles, control
// names, backlight modes, LED effects, device entries, output profiles) is
// resolved once here, so that a panel event finds its command with one
// look-up and no name is normalised or compared while the program runs.

// The action keys of the button configuration that the mapping engine
// looks up.
enum class ControlAction : std::uint8_t {
    Press,
    Release,
    Hold,
    Clockwise,
    CounterClockwise,
    ClockwiseFast,
    CounterClockwiseFast,
};
constexpr std::size_t kControlActionCount = 7;

// The key an action has in the button configuration ("PRESS", "CW_FAST"...).
const char* controlActionKey(ControlAction action);

// A role key of the button configuration; kDefaultRole is "DEFAULT", which
// is also what a role that the file never names falls back to.
using RoleId = std::uint32_t;
constexpr RoleId kDefaultRole = 0;

enum class BacklightMode : std::uint8_t { LVar, Fixed, Off };
enum class LightEffect : std::uint8_t { None, Steady, Breathe, Flash };

// `backlight.mode` ("FIXED", "OFF", anything else follows the L-variable)
// and an effect name ("STEADY", "BREATHE", "FLASH", anything else none),
// any letter case and blanks.
BacklightMode backlightModeOf(const std::string& mode);
LightEffect lightEffectOf(const std::string& effect);

struct CompiledEffect {
    LightEffect effect = LightEffect::None;
    std::int32_t brightness = 0;
    std::int32_t param0 = 0;
    std::int32_t param1 = 0;
    std::int32_t param2 = 0;
};

// An output profile with its mode and effects resolved.
struct LightProfile {
    BacklightMode mode = BacklightMode::LVar;
    BacklightConfig backlight;  // its numbers; the mode text is not read
    CompiledEffect simDisconnected;
    CompiledEffect batteryOff;

    static LightProfile compile(const OutputProfile& profile);
    static CompiledEffect compile(const LedEffectConfig& effect);
};

// One panel's settings, resolved from its board id and index.
struct PanelSettings {
    const DeviceConfig* entry = nullptr;   // the device entry, or null
    RoleId configuredRole = kDefaultRole;  // the entry's role
    const LightProfile* light = nullptr;   // null when no profile is configured
};

// Built once after the configuration files are loaded; read-only after
// that, so any number of threads may read it without a lock. The three
// sources must outlive it and stay unchanged.
class CompiledConfig {
public:
    // A control the event map names.
    struct Control {
        std::string name;         // as the event map writes it
        bool hasEntry = false;    // the button configuration names it
        bool holdOff = false;     // its hold pauses the panel's LEDs (NAV_SWAP)
        bool managedMap = false;  // map panning (MAP_LEFT/RIGHT/UP/DOWN)
        // By action, then by role id: the role's text, else the action's
        // DEFAULT text, else empty.
        std::array<std::vector<std::string>, kControlActionCount> commands;
    };

    CompiledConfig(const AppConfig& config, const ButtonConfig& buttons, const EventMap& eventMap);

    const AppConfig& app() const { return config_; }

    // Null when the event map has no name for the id.
    const Control* control(std::int32_t controlId) const;
    // Empty text when the event map has no name for the type.
    const std::string& eventTypeName(std::int32_t type) const;
    // The command text for the action under the role; empty when none.
    const std::string& command(const Control& control, ControlAction action, RoleId role) const;
    // A role text (as written anywhere) to its id; an empty text and a role
    // that the button configuration never names give kDefaultRole.
    RoleId roleId(const std::string& role) const;

    // The panel's device entry (by board id first, then by index), its role
    // and its output profile.
    PanelSettings panel(const std::string& boardId, std::int32_t index) const;

    CompiledConfig(const CompiledConfig&) = delete;
    CompiledConfig& operator=(const CompiledConfig&) = delete;

private:
    void compileControls(const ButtonConfig& buttons, const EventMap& eventMap);

    const AppConfig& config_;
    std::unordered_map<std::string, RoleId> roles_;  // normalised role key -> id
    std::unordered_map<std::int32_t, Control> controls_;
    std::unordered_map<std::int32_t, std::string> typeNames_;
    std::unordered_map<const OutputProfile*, LightProfile> lights_;
};

// Each panel's settings, looked up once per panel. Not shared: one owner
// thread at a time. Forgets everything when it would hold more panels than
// kMaxPanels (a panel that comes back under new indices again and again).
class PanelDirectory {
public:
    static constexpr std::size_t kMaxPanels = 64;

    explicit PanelDirectory(const CompiledConfig& compiled) : compiled_(compiled) {}

    const PanelSettings& find(const std::string& boardId, std::int32_t index);

private:
    const CompiledConfig& compiled_;
    std::unordered_map<std::string, PanelSettings> panels_;  // by board id + "#" + index
};
