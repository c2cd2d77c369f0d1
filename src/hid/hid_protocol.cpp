#include "hid/hid_protocol.h"

namespace HidProtocol {
namespace {

std::uint16_t readLe16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

void writeLe16(std::uint8_t* p, std::uint16_t value) {
    p[0] = static_cast<std::uint8_t>(value & 0xFF);
    p[1] = static_cast<std::uint8_t>(value >> 8);
}

const char kHexDigits[] = "0123456789ABCDEF";

}  // namespace

bool decodeInputReport(const std::uint8_t* buffer, std::size_t length, HidEvent& event,
                       std::string& error) {
    const std::uint8_t* p = nullptr;
    if (buffer != nullptr && length == kReportSize - 1) {
        p = buffer;
    } else if (buffer == nullptr || length < kReportSize) {
        error = "Invalid report length";
        return false;
    } else if (buffer[0] != kInputReportId) {
        error = "Unexpected report ID";
        return false;
    } else {
        p = buffer + 1;
    }
    event.aux0 = p[0];
    event.type = p[1];
    event.controlId = readLe16(p + 3);
    event.value = static_cast<std::int8_t>(p[5]);
    event.speed = p[6];
    event.mode = p[7];
    event.aux1 = readLe16(p + 8);
    return true;
}

Report buildInputReport(const HidEvent& event) {
    Report r{};
    r[0] = kInputReportId;
    r[1] = event.aux0;
    r[2] = event.type;
    writeLe16(&r[4], event.controlId);
    r[6] = static_cast<std::uint8_t>(event.value);
    r[7] = event.speed;
    r[8] = event.mode;
    writeLe16(&r[9], event.aux1);
    return r;
}

bool parseIdentityReport(const Report& buffer, DeviceIdentity& identity, std::string& error) {
    if (buffer[0] != kIdentityReportId) {
        error = "Unexpected report ID";
        return false;
    }
    for (std::size_t i = 0; i < identity.identBytes.size(); ++i)
        identity.identBytes[i] = buffer[1 + i];
    identity.identWord1 = readLe16(&buffer[7]);
    identity.identWord2 = readLe16(&buffer[9]);
    for (std::size_t i = 0; i < identity.boardId.size(); ++i)
        identity.boardId[i] = buffer[11 + i];
    return true;
}

bool parseProtocolReport(const Report& buffer, ProtocolInfo& info, std::string& error) {
    if (buffer[0] != kProtocolReportId) {
        error = "Unexpected report ID";
        return false;
    }
    info.protoMajor = buffer[1];
    info.protoMinor = buffer[2];
    info.flags = buffer[3];
    return true;
}

std::string formatBoardId(const std::array<std::uint8_t, 8>& boardId) {
    return hexBytes(boardId.data(), boardId.size());
}

Report buildLedCtlReport(const LedCommand& command) {
    // The reserved byte of the command is not transmitted.
    Report r{};
    r[0] = kLedCtlReportId;
    r[1] = command.effect;
    r[2] = command.brightness;
    r[3] = command.param0;
    writeLe16(&r[4], command.param1);
    r[6] = command.param2;
    return r;
}

bool parseLedCtlReport(const std::uint8_t* bytes, std::size_t count, LedCommand& command) {
    if (bytes == nullptr || count < 7 || bytes[0] != kLedCtlReportId) return false;
    command = LedCommand{};
    command.effect = bytes[1];
    command.brightness = bytes[2];
    command.param0 = bytes[3];
    command.param1 = readLe16(bytes + 4);
    command.param2 = bytes[6];
    return true;
}

const char* ledEffectName(std::uint8_t effect) {
    switch (effect) {
        case kLedOff:
            return "off";
        case kLedSteady:
            return "steady";
        case kLedBreathe:
            return "breathe";
        case kLedFlash:
            return "flash";
        default:
            return "unknown";
    }
}

Report buildSimStatusReport(bool connected) {
    Report r{};
    r[0] = kSimStatusReportId;
    r[1] = connected ? 1 : 0;
    return r;
}

Report buildDeviceCtlReport(std::uint8_t action) {
    Report r{};
    r[0] = kDeviceCtlReportId;
    r[1] = action;
    return r;
}

const char* actionName(int action) {
    switch (action) {
        case kActionPress:
            return "BUTTON_PRESS";
        case kActionRelease:
            return "BUTTON_RELEASE";
        case kActionHold:
            return "HOLD";
        case kActionClockwise:
            return "ENC_CW";
        case kActionCounterClockwise:
            return "ENC_CCW";
        default:
            return "NONE";
    }
}

std::string hexBytes(const std::uint8_t* bytes, std::size_t count) {
    std::string text;
    if (bytes == nullptr) return text;
    text.reserve(count * 2);
    for (std::size_t i = 0; i < count; ++i) {
        text.push_back(kHexDigits[bytes[i] >> 4]);
        text.push_back(kHexDigits[bytes[i] & 0x0F]);
    }
    return text;
}

std::string traceInput(const std::string& device, const std::uint8_t* bytes, std::size_t count) {
    return "HID IN device=" + device + " bytes=" + std::to_string(count) +
           " data=" + hexBytes(bytes, count);
}

std::string traceOutput(const std::string& reportName, const std::string& device,
                        std::size_t bytesWritten, const Report& report) {
    return "HID OUT " + reportName + " device=" + device +
           " bytes=" + std::to_string(bytesWritten) +
           " data=" + hexBytes(report.data(), report.size());
}

std::string traceDeviceCtl(const Report& report) {
    return "HID OUT device_ctl action=" + std::to_string(report[1]) +
           " data=" + hexBytes(report.data(), report.size());
}

std::string traceProtocolInfo(const std::string& device, const ProtocolInfo& info) {
    return "HID protocol info: device=" + device + " proto=" + std::to_string(info.protoMajor) +
           "." + std::to_string(info.protoMinor) + " flags=0x" + hexBytes(&info.flags, 1);
}

}  // namespace HidProtocol
