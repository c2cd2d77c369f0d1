// The panels' row of --check: the HID devices with the configured vendor
// and product id, each asked who it is the way a connect asks, and closed
// again at once.
#include <cstdio>

#include "app/program_check.h"
#include "hid/hid_manager.h"
#include "log/outside_text.h"
#include "platform/hid_bus.h"

namespace {

std::string hex4(std::uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(value));
    return text;
}

std::string protocolText(const PanelIdentity& panel) {
    if (!panel.protocolValid) return "no protocol report";
    return "protocol " + std::to_string(panel.protocol.protoMajor) + "." +
           std::to_string(panel.protocol.protoMinor) + ", flags 0x" +
           HidProtocol::hexBytes(&panel.protocol.flags, 1);
}

std::string deviceEntryText(const PanelIdentity& panel, const AppConfig& config) {
    if (!panel.identityValid) return {};
    const DeviceConfig* entry = config.findDevice(normalizeBoardId(panel.name), -1);
    if (entry == nullptr) return ", no devices entry names it";
    return ", devices entry with role " + (entry->role.empty() ? "(none)" : entry->role);
}

Finding panelFinding(platform::HidBus& bus, const std::string& path, const AppConfig& config) {
    std::unique_ptr<platform::HidReadHandle> handle = bus.openRead(path);
    if (!handle) {
        return failFinding(path +
                           " cannot be opened (another program may hold it, or this "
                           "user may not open it); close other panel programs, or plug "
                           "it in again");
    }
    const PanelIdentity panel = HidManager::identify(*handle, path);
    handle.reset();
    std::string text = panel.name + " (";
    if (panel.identityValid && !panel.serial.empty())
        text += "serial " + outsideText(panel.serial) + ", ";
    text += protocolText(panel) + deviceEntryText(panel, config) + ") at " + path;
    if (panel.identityValid) return okFinding(text);
    return warnFinding(text +
                       "; it gives no board id (identity report), so a devices entry "
                       "can select it only by index; update its firmware");
}

}  // namespace

std::vector<Finding> checkPanels(CheckContext& context) {
    if (!context.configLoaded) {
        return {warnFinding("not looked for, because the configuration did not load")};
    }
    const AppConfig& config = context.config;
    std::uint16_t vid = 0;
    std::uint16_t pid = 0;
    if (!HidManager::parseIdentifier(config.vid, vid) ||
        !HidManager::parseIdentifier(config.pid, pid)) {
        return {failFinding("hid.vid \"" + outsideText(config.vid) + "\" or hid.pid \"" +
                            outsideText(config.pid) +
                            "\" is not a hexadecimal id (Invalid VID/PID), so the program does "
                            "not start; correct it in the configuration")};
    }
    platform::HidBus& bus = *context.hidBus;
    std::vector<Finding> findings;
    for (const std::string& path : bus.enumerate()) {
        std::uint16_t vendorId = 0;
        std::uint16_t productId = 0;
        if (bus.probe(path, vendorId, productId) && vendorId == vid && productId == pid) {
            findings.push_back(panelFinding(bus, path, config));
        }
    }
    if (!findings.empty()) return findings;
    return {warnFinding("none with VID " + hex4(vid) + " and PID " + hex4(pid) +
                        " is plugged in; plug a panel in, or check hid.vid and hid.pid in the "
                        "configuration (Device Manager shows a panel's ids under Hardware Ids)")};
}
