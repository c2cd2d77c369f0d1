#pragma once

#include <memory>

#include "emulation/sim_emulator.h"
#include "sim/simconnect_client.h"

// How the benchmarked program reaches the emulated simulator. The benchmarks
// see only a SimEmulator; each benchmark executable links one
// makeBenchTransport, as the SimConnect functions it links require:
// in-process (they act on the emulator directly), or the network client to
// the emulator's wire front on 127.0.0.1.
class BenchTransport {
public:
    virtual ~BenchTransport() = default;
    // Running before the program starts; lives as long as the transport.
    virtual SimEmulator& simulator() = 0;
    // Where the simulator is, for the SimConnect client.
    virtual SimConnectClient::SimulatorPolicy policy() const = 0;
    // The benchmarks' label: "in-process" or "loopback TCP".
    virtual const char* label() const = 0;
};

// Null with `error` when the transport cannot be set up.
std::unique_ptr<BenchTransport> makeBenchTransport(std::string& error);
