#pragma once

#include <mutex>

// Simulator facts shared between the Application's callbacks and the
// mapping engine's output side. A known flag is set with its first value
// and never cleared. Every field is guarded by `lock`.
struct SimState {
    std::mutex lock;
    bool batteryKnown = false;
    bool batteryOn = false;
    bool backlightKnown = false;
    double backlightLevel = 0.0;
    bool simKnown = false;
    bool simConnected = false;
};
