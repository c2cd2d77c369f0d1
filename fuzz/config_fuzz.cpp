// The three configuration loaders on the same bytes. Beyond "no crash":
// a refusal always carries a text, and an accepted file keeps the promises
// the rest of the program relies on.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "config/app_config.h"
#include "config/button_config.h"
#include "config/event_map.h"

namespace {

void check(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "config_fuzz: %s\n", what);
    std::abort();
}

void checkAppConfig(const std::string& text) {
    AppConfig config;
    std::string error;
    if (!loadAppConfigFromText(text, "no-such-folder/config.json", config, error)) {
        check(!error.empty(), "config refused without a text");
        return;
    }
    std::string again;
    check(validateAppConfig(config, again), "accepted config fails its own check");
    check(config.outputs.profiles.count(normalizeKey(config.outputs.defaultProfile)) == 1,
          "default profile missing");
    check(config.profileFor(nullptr) != nullptr, "no profile for a panel without entry");
    for (const DeviceConfig& device : config.devices) {
        check(!device.boardId.empty() || device.index >= 0, "device entry without identity");
        check(device.index >= -1, "device index below -1");
        // Real board ids are hex digits; only a written "0x0x.." is not found again.
        const bool stable = normalizeBoardId(device.boardId) == device.boardId;
        if (stable || device.index >= 0) {
            check(config.findDevice(device.boardId, device.index) != nullptr, "device not found");
        }
        check(config.profileFor(&device) != nullptr, "device without profile");
    }
}

void checkEventMap(const std::string& text) {
    EventMap map;
    std::string error;
    if (!map.loadFromText(text, error)) {
        check(!error.empty(), "event map refused without a text");
        return;
    }
    check(!map.eventTypes().empty() && !map.controlIds().empty(), "accepted map is empty");
}

void checkButtonConfig(const std::string& text) {
    ButtonConfig buttons;
    std::string error;
    if (!buttons.loadFromText(text, error)) {
        check(!error.empty(), "button config refused without a text");
        return;
    }
    for (const char* name : {"HDG", "MAP_LEFT", "AP_MASTER", ""}) {
        for (const char* action : {"PRESS", "HOLD", "CW_FAST", ""}) {
            const std::string command = buttons.lookup(name, action, "PFD");
            check(command.find('\0') == std::string::npos, "command holds a NUL");
            check(command.empty() || buttons.hasControl(name), "command for an absent control");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    checkAppConfig(text);
    checkEventMap(text);
    checkButtonConfig(text);
    return 0;
}
