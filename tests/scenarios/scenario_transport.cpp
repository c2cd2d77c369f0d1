// The scenarios' two links: in-process, and over the network client to the
// emulator behind its wire front on 127.0.0.1 (a port the system chooses).
#include <gtest/gtest.h>

#include "emulation/emulator_library.h"
#include "scenario_transport.h"
#include "simnet/network_library.h"
#include "simulator/emulator_front.h"

namespace {

class InProcessTransport final : public ScenarioTransport {
public:
    explicit InProcessTransport(Clock& clock) : sim_(clock) {}
    SimEmulator& simulator() override { return sim_; }
    simconnect::Library& library() override { return library_; }

private:
    SimEmulator sim_;
    EmulatorLibrary library_{sim_};
};

class NetworkTransport final : public ScenarioTransport {
public:
    explicit NetworkTransport(Clock& clock) : sim_(clock), front_(sim_) {
        std::string error;
        if (!front_.start(error)) ADD_FAILURE() << "the wire front did not start: " << error;
        library_.emplace(simnet::Endpoint::tcp("127.0.0.1", front_.port(), platform::IpFamily::V4));
    }
    ~NetworkTransport() override { front_.stop(); }
    SimEmulator& simulator() override { return sim_; }
    simconnect::Library& library() override { return *library_; }

private:
    SimEmulator sim_;
    simnet::EmulatorFront front_;
    std::optional<simnet::NetworkLibrary> library_;
};

}  // namespace

std::unique_ptr<ScenarioTransport> makeScenarioTransport(ScenarioLink link, Clock& clock) {
    if (link == ScenarioLink::InProcess) return std::make_unique<InProcessTransport>(clock);
    return std::make_unique<NetworkTransport>(clock);
}
