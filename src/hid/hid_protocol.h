#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

// The panels' report protocol: fixed 32-byte reports, little-endian fields.
namespace HidProtocol {

constexpr std::size_t kReportSize = 32;
using Report = std::array<std::uint8_t, kReportSize>;

constexpr std::uint8_t kInputReportId = 0x01;
constexpr std::uint8_t kIdentityReportId = 0x20;
constexpr std::uint8_t kProtocolReportId = 0x21;
constexpr std::uint8_t kLedCtlReportId = 0x10;
constexpr std::uint8_t kSimStatusReportId = 0x11;
constexpr std::uint8_t kDeviceCtlReportId = 0x12;
constexpr std::uint8_t kDeviceCtlBootsel = 2;

// HidEvent::type.
constexpr std::uint8_t kEventButton = 1;
constexpr std::uint8_t kEventEncoder = 2;
// The panel shows its own feedback for a while: LED writes pause.
constexpr std::uint8_t kEventLedHoldOff = 4;

// HidEvent::value of a button: released, pressed, or held (a value in the
// hold range, repeated while the button stays down).
constexpr std::int8_t kButtonReleased = 0;
constexpr std::int8_t kButtonPressed = 1;
constexpr std::int8_t kButtonHeldFirst = 2;
constexpr std::int8_t kButtonHeldLast = 4;
constexpr bool isHeldValue(int value) {
    return value >= kButtonHeldFirst && value <= kButtonHeldLast;
}

// HidEvent::mode: the panel names its role; any other value leaves the role
// to the panel's device entry in the configuration.
constexpr std::uint8_t kModePfd = 0;
constexpr std::uint8_t kModeMfd = 1;
constexpr std::uint8_t kModeConfigured = 2;

// An encoder turn at this speed or faster uses the control's _FAST command.
constexpr std::uint8_t kFastSpeed = 4;

// One decoded panel event; a plain value copied freely between threads.
struct HidEvent {
    std::uint8_t aux0 = 0;
    std::uint8_t type = 0;  // kEventButton, kEventEncoder, kEventLedHoldOff
    std::uint16_t controlId = 0;
    std::int8_t value = 0;  // button state, or encoder detents (sign = direction)
    std::uint8_t speed = 0;
    std::uint8_t mode = 0;  // kModePfd, kModeMfd, other: role from the configuration
    std::uint16_t aux1 = 0;
};

struct DeviceIdentity {
    std::array<std::uint8_t, 6> identBytes{};
    std::uint16_t identWord1 = 0;
    std::uint16_t identWord2 = 0;
    std::array<std::uint8_t, 8> boardId{};
};

struct ProtocolInfo {
    std::uint8_t protoMajor = 0;
    std::uint8_t protoMinor = 0;
    std::uint8_t flags = 0;
};

// Action codes derived from (type, value) by the mapping engine.
enum Action : int {
    kActionNone = 0,
    kActionPress = 1,
    kActionRelease = 2,
    kActionHold = 3,
    kActionClockwise = 4,
    kActionCounterClockwise = 5,
};

// Accepts a 32-byte report starting with ID 0x01, or the same 31 bytes
// without the ID. False with "Invalid report length" or "Unexpected report
// ID"; the event is untouched then.
bool decodeInputReport(const std::uint8_t* buffer, std::size_t length, HidEvent& event,
                       std::string& error);
// The 32-byte input report a panel sends for `event` (the inverse of
// decodeInputReport); used by the virtual panels.
Report buildInputReport(const HidEvent& event);
bool parseIdentityReport(const Report& buffer, DeviceIdentity& identity, std::string& error);
bool parseProtocolReport(const Report& buffer, ProtocolInfo& info, std::string& error);

// 16 upper-case hexadecimal digits.
std::string formatBoardId(const std::array<std::uint8_t, 8>& boardId);

}  // namespace HidProtocol

namespace HidProtocol {

// LedCommand::effect.
constexpr std::uint8_t kLedOff = 0;
constexpr std::uint8_t kLedSteady = 1;
constexpr std::uint8_t kLedBreathe = 2;
constexpr std::uint8_t kLedFlash = 3;

}  // namespace HidProtocol

// The 7-byte LED instruction computed per panel and carried in "led_ctl".
struct LedCommand {
    std::uint8_t effect = HidProtocol::kLedOff;  // HidProtocol::kLed...
    std::uint8_t brightness = 0;
    std::uint8_t param0 = 0;
    std::uint8_t reserved = 0;
    std::uint16_t param1 = 0;
    std::uint8_t param2 = 0;

    bool operator==(const LedCommand& o) const {
        return effect == o.effect && brightness == o.brightness && param0 == o.param0 &&
               reserved == o.reserved && param1 == o.param1 && param2 == o.param2;
    }
    bool operator!=(const LedCommand& o) const { return !(*this == o); }
};

namespace HidProtocol {

Report buildLedCtlReport(const LedCommand& command);
// The command in a "led_ctl" report as a panel receives it (the reserved
// byte is not transmitted and stays 0). False for any other report or one
// shorter than 7 bytes.
bool parseLedCtlReport(const std::uint8_t* bytes, std::size_t count, LedCommand& command);
// "off", "steady", "breathe", "flash" or "unknown".
const char* ledEffectName(std::uint8_t effect);
Report buildSimStatusReport(bool connected);
Report buildDeviceCtlReport(std::uint8_t action);

// "BUTTON_PRESS", "BUTTON_RELEASE", "HOLD", "ENC_CW", "ENC_CCW" or "NONE".
const char* actionName(int action);

// Two upper-case hexadecimal digits per byte, no separators.
std::string hexBytes(const std::uint8_t* bytes, std::size_t count);

// The DEBUG trace texts.
std::string traceInput(const std::string& device, const std::uint8_t* bytes, std::size_t count);
std::string traceOutput(const std::string& reportName, const std::string& device,
                        std::size_t bytesWritten, const Report& report);
std::string traceDeviceCtl(const Report& report);
std::string traceProtocolInfo(const std::string& device, const ProtocolInfo& info);

}  // namespace HidProtocol
