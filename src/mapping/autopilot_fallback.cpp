#include "mapping/autopilot_fallback.h"

const std::vector<std::pair<std::uint16_t, std::string>>& autopilotFallbackTable() {
    static const std::vector<std::pair<std::uint16_t, std::string>> table = {
        {5, "AP_MASTER"},
        {6, "TOGGLE_FLIGHT_DIRECTOR"},
        {7, "AP_HDG_HOLD"},
        {8, "AP_ALT_HOLD"},
        {9, "AP_NAV1_HOLD"},
        {11, "AP_BC_HOLD"},
        {12, "AP_APR_HOLD"},
        {13, "AP_VS_HOLD"},
        {16, "FLIGHT_LEVEL_CHANGE"},
    };
    return table;
}

const char* autopilotFallback(std::uint16_t controlId) {
    for (const auto& [id, event] : autopilotFallbackTable()) {
        if (id == controlId) return event.c_str();
    }
    return nullptr;
}
