#include "emulation/sim_event_names.h"

#include <algorithm>

namespace emulation {

const std::vector<std::string>& knownSimEventNames() {
    // Autopilot: the program's fallback events and the examples' commands.
    static const std::vector<std::string> names = {
        "AP_MASTER",
        "TOGGLE_FLIGHT_DIRECTOR",
        "AP_HDG_HOLD",
        "AP_ALT_HOLD",
        "AP_NAV1_HOLD",
        "AP_BC_HOLD",
        "AP_APR_HOLD",
        "AP_VS_HOLD",
        "FLIGHT_LEVEL_CHANGE",
        "FLIGHT_LEVEL_CHANGE_ON",
        "FLIGHT_LEVEL_CHANGE_OFF",
        "YAW_DAMPER_TOGGLE",
        "AP_ALT_VAR_INC",
        "AP_ALT_VAR_DEC",
        "AP_ALT_VAR_SET_ENGLISH",
        "AP_VS_VAR_INC",
        "AP_VS_VAR_DEC",
        "HEADING_BUG_INC",
        "HEADING_BUG_DEC",
        "HEADING_BUG_SET",
        // Radios and instruments used by the examples.
        "VOR1_OBI_INC",
        "VOR1_OBI_DEC",
        "VOR1_SET",
        "NAV1_RADIO_SWAP",
        "NAV2_RADIO_SWAP",
        "COM_STBY_RADIO_SWAP",
        "COM2_RADIO_SWAP",
        "KOHLSMAN_INC",
        "KOHLSMAN_DEC",
        "BAROMETRIC_STD_PRESSURE",
    };
    return names;
}

bool isAcceptedEventName(const std::vector<std::string>& known, const std::string& name) {
    if (name.empty() || name.find('.') != std::string::npos) return true;
    return std::find(known.begin(), known.end(), name) != known.end();
}

}  // namespace emulation
