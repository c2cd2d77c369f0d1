#include "hid/hid_protocol.h"

// Placeholder until the report codec is written.
namespace HidProtocol {
bool decodeInputReport(const std::uint8_t*, std::size_t, HidEvent&, std::string& error) {
    error = "Invalid report length";
    return false;
}
bool parseIdentityReport(const Report&, DeviceIdentity&, std::string& error) {
    error = "Unexpected report ID";
    return false;
}
bool parseProtocolReport(const Report&, ProtocolInfo&, std::string& error) {
    error = "Unexpected report ID";
    return false;
}
std::string formatBoardId(const std::array<std::uint8_t, 8>&) { return {}; }
Report buildLedCtlReport(const LedCommand&) { return {}; }
Report buildSimStatusReport(bool) { return {}; }
Report buildDeviceCtlReport(std::uint8_t) { return {}; }
const char* actionName(int) { return "NONE"; }
std::string hexBytes(const std::uint8_t*, std::size_t) { return {}; }
std::string traceInput(const std::string&, const std::uint8_t*, std::size_t) { return {}; }
std::string traceOutput(const std::string&, const std::string&, std::size_t, const Report&) { return {}; }
std::string traceDeviceCtl(const Report&) { return {}; }
std::string traceProtocolInfo(const std::string&, const ProtocolInfo&) { return {}; }
}  // namespace HidProtocol
