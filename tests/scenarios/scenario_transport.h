#pragma once

#include <memory>

#include "common/clock.h"
#include "emulation/sim_emulator.h"
#include "sim/simconnect_library.h"

// How the program under test reaches the emulated simulator in the scenario
// tests. The scenarios script only the SimEmulator and run once per link:
// in-process (EmulatorLibrary acts on the emulator directly), and over the
// built-in network client to the emulator's wire front on 127.0.0.1.
enum class ScenarioLink { InProcess, Loopback };

class ScenarioTransport {
public:
    virtual ~ScenarioTransport() = default;
    // The simulator the program talks to; it lives as long as the transport.
    virtual SimEmulator& simulator() = 0;
    // The SimConnect handed to the program.
    virtual simconnect::Library& library() = 0;
};

// A transport whose emulator runs on `clock`, ready before the program starts.
std::unique_ptr<ScenarioTransport> makeScenarioTransport(ScenarioLink link, Clock& clock);
