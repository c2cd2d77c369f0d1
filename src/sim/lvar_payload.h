#pragma once

#include <cstdio>
#include <string>

// What the MobiFlight L-variable area carried: the float the module writes
// for a registered variable (the backlight level), or text.
struct LVarPayload {
    bool isNumber = false;
    double number = 0.0;  // finite, when isNumber
    std::string text;     // when not a number

    // For log lines: a number with six decimals ("0.500000"), else the text.
    std::string shown() const {
        if (!isNumber) return text;
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, "%.6f", number);
        return buffer;
    }
};
