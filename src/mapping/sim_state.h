#pragma once

#include "common/mutex.h"

// Simulator facts shared between the Application's callbacks and the
// mapping engine's output side. A known flag is set with its first value
// and never cleared.
struct SimState {
    Mutex lock;
    bool batteryKnown GUARDED_BY(lock) = false;
    bool batteryOn GUARDED_BY(lock) = false;
    bool backlightKnown GUARDED_BY(lock) = false;
    double backlightLevel GUARDED_BY(lock) = 0.0;
    bool simKnown GUARDED_BY(lock) = false;
    bool simConnected GUARDED_BY(lock) = false;
};
