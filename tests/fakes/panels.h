#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "emulation/virtual_hid_bus.h"

// Virtual panels for tests: the description of one panel on the virtual HID
// bus. Header only; the including test links the HID emulation.
namespace fakes {

// The ids the example configurations and most suites expect.
constexpr std::uint16_t kPanelVendorId = 0x2E8A;
constexpr std::uint16_t kPanelProductId = 0x10C0;

// A panel with its identity report (board id) and, unless `protocol` is
// false, protocol report 1.0.
inline emulation::VirtualPanelSpec panelSpec(const std::string& path,
                                             const std::array<std::uint8_t, 8>& boardId,
                                             const std::string& serial, bool protocol = true,
                                             std::uint16_t vendorId = kPanelVendorId,
                                             std::uint16_t productId = kPanelProductId) {
    emulation::VirtualPanelSpec description;
    description.path = path;
    description.vendorId = vendorId;
    description.productId = productId;
    description.serial = serial;
    description.boardId = boardId;
    if (protocol) description.protocol = HidProtocol::ProtocolInfo{1, 0, 0};
    return description;
}

// The same with the board id as 16 hexadecimal digits.
inline emulation::VirtualPanelSpec panelSpec(const std::string& path, const std::string& boardId,
                                             const std::string& serial) {
    std::array<std::uint8_t, 8> id{};
    emulation::boardIdFromText(boardId, id);
    return panelSpec(path, id, serial);
}

// A "led_ctl" report with this effect (and, for a steady light, this
// brightness).
inline bool isLedReport(const emulation::ReceivedReport& report, std::uint8_t effect,
                        std::uint8_t brightness) {
    LedCommand command;
    return HidProtocol::parseLedCtlReport(report.bytes.data(), report.bytes.size(), command) &&
           command.effect == effect &&
           (effect != HidProtocol::kLedSteady || command.brightness == brightness);
}

// A "sim_status" report saying `connected`.
inline bool isSimStatusReport(const emulation::ReceivedReport& report, bool connected) {
    const std::vector<std::uint8_t>& b = report.bytes;
    return b.size() >= 2 && b[0] == HidProtocol::kSimStatusReportId && (b[1] != 0) == connected;
}

}  // namespace fakes
