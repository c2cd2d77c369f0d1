// The emulator behind its wire front on 127.0.0.1 (a port the system
// chooses), and the program's built-in network client pointed at it as
// simulator.address points the program.
#include <optional>

#include "bench_transport.h"
#include "simnet/network_library.h"
#include "simulator/emulator_front.h"

namespace {

simnet::EmulatorFrontOptions frontOptions() {
    simnet::EmulatorFrontOptions options;
    // The flood bound guards a shared server; here it would cut the one
    // client the benchmark drives as fast as it can.
    options.server.maxMessagesPerSecond = 1000000;
    return options;
}

class LoopbackTransport final : public BenchTransport {
public:
    LoopbackTransport() : front_(sim_, frontOptions()) {}
    ~LoopbackTransport() override { front_.stop(); }
    bool start(std::string& error) {
        if (!front_.start(error)) return false;
        library_.emplace(simnet::Endpoint::tcp("127.0.0.1", front_.port(), platform::IpFamily::V4));
        return true;
    }
    SimEmulator& simulator() override { return sim_; }
    simconnect::Library& library() override { return *library_; }
    SimConnectClient::SimulatorPolicy policy() const override {
        SimConnectClient::SimulatorPolicy policy;
        policy.localProcess = false;  // as the program with simulator.address
        policy.exitWithSimulator = false;
        return policy;
    }
    const char* label() const override { return "loopback TCP"; }

private:
    SimEmulator sim_;
    simnet::EmulatorFront front_;
    std::optional<simnet::NetworkLibrary> library_;
};

}  // namespace

std::unique_ptr<BenchTransport> makeLoopbackTransport(std::string& error) {
    auto transport = std::make_unique<LoopbackTransport>();
    if (!transport->start(error)) return nullptr;
    return transport;
}
