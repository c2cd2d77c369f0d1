#pragma once

#include <memory>

#include "common/clock.h"
#include "emulation/sim_emulator.h"

// How the program under test reaches the emulated simulator in the scenario
// tests. The scenarios script only the SimEmulator; each test executable
// that compiles them links one makeScenarioTransport: in-process (the
// SimConnect functions act on the emulator directly), or another transport
// in front of the same kind of emulator.
class ScenarioTransport {
public:
    virtual ~ScenarioTransport() = default;
    // The simulator the program talks to; it lives as long as the transport.
    virtual SimEmulator& simulator() = 0;
};

// A transport whose emulator runs on `clock`, ready before the program starts.
std::unique_ptr<ScenarioTransport> makeScenarioTransport(Clock& clock);
