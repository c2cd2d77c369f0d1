#include <sstream>

#include "common/ascii.h"
#include "platform/hidraw.h"

namespace platform {
namespace {

// One hexadecimal field of at most 8 digits that must fit in 16 bits.
bool parseHexField(const std::string& text, std::uint16_t& value) {
    if (text.empty() || text.size() > 8) return false;
    std::uint32_t result = 0;
    for (const char c : text) {
        const int digit = hexDigitValue(c);
        if (digit < 0) return false;
        result = result * 16 + static_cast<std::uint32_t>(digit);
    }
    if (result > 0xFFFF) return false;
    value = static_cast<std::uint16_t>(result);
    return true;
}

bool parseHidId(const std::string& text, HidrawUevent& uevent) {
    const std::size_t first = text.find(':');
    const std::size_t second = first == std::string::npos ? first : text.find(':', first + 1);
    if (second == std::string::npos) return false;
    return parseHexField(text.substr(0, first), uevent.busType) &&
           parseHexField(text.substr(first + 1, second - first - 1), uevent.vendorId) &&
           parseHexField(text.substr(second + 1), uevent.productId);
}

}  // namespace

bool parseHidrawUevent(const std::string& text, HidrawUevent& uevent) {
    HidrawUevent result;
    bool haveId = false;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos) continue;
        const std::string key = line.substr(0, equals);
        const std::string value = line.substr(equals + 1);
        if (key == "HID_ID") {
            if (!parseHidId(value, result)) return false;
            haveId = true;
        } else if (key == "HID_UNIQ") {
            result.serial = value;
        } else if (key == "HID_NAME") {
            result.name = value;
        }
    }
    if (!haveId) return false;
    uevent = result;
    return true;
}

}  // namespace platform
