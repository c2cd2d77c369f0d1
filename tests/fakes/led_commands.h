#pragma once

// LED commands for assertions: readable failure messages and short
// constructors.

#include <cstdint>
#include <ostream>

#include "hid/hid_protocol.h"

// Readable failure messages: effect/brightness/param0/param1/param2.
inline void PrintTo(const LedCommand& c, std::ostream* os) {
    *os << "{effect " << int(c.effect) << ", brightness " << int(c.brightness) << ", p0 "
        << int(c.param0) << ", p1 " << c.param1 << ", p2 " << int(c.param2) << "}";
}

inline LedCommand steady(std::uint8_t level) {
    LedCommand c;
    c.effect = HidProtocol::kLedSteady;
    c.brightness = level;
    return c;
}

inline LedCommand animated(std::uint8_t effect, std::uint8_t p0, std::uint16_t p1,
                           std::uint8_t p2) {
    LedCommand c;
    c.effect = effect;
    c.param0 = p0;
    c.param1 = p1;
    c.param2 = p2;
    return c;
}
