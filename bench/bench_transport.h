#pragma once

#include <memory>
#include <string>

#include "emulation/sim_emulator.h"
#include "sim/simconnect_client.h"
#include "sim/simconnect_library.h"

// How the benchmarked program reaches the emulated simulator: in-process
// (EmulatorLibrary), or the built-in network client to the emulator's wire
// front on 127.0.0.1. Every benchmark runs once over each.
enum class BenchLink { InProcess, Loopback };

class BenchTransport {
public:
    virtual ~BenchTransport() = default;
    // Running before the program starts; lives as long as the transport.
    virtual SimEmulator& simulator() = 0;
    // The SimConnect the program talks through.
    virtual simconnect::Library& library() = 0;
    // Where the simulator is, for the SimConnect client.
    virtual SimConnectClient::SimulatorPolicy policy() const = 0;
    // The benchmarks' label: "in-process" or "loopback TCP".
    virtual const char* label() const = 0;
};

// Null with `error` when the transport cannot be set up.
std::unique_ptr<BenchTransport> makeInProcessTransport(std::string& error);
std::unique_ptr<BenchTransport> makeLoopbackTransport(std::string& error);
