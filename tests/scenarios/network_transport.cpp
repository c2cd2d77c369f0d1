// The scenarios over the network: the emulator behind its wire front on
// 127.0.0.1 (a port the system chooses), and the program's SimConnect
// functions those of the network client, pointed at it.
#include <gtest/gtest.h>

#include "scenario_transport.h"
#include "simnet/endpoint.h"
#include "simulator/emulator_front.h"

namespace {

class NetworkTransport final : public ScenarioTransport {
public:
    explicit NetworkTransport(Clock& clock) : sim_(clock), front_(sim_) {
        std::string error;
        if (!front_.start(error)) ADD_FAILURE() << "the wire front did not start: " << error;
        simnet::setConfiguredEndpoint(
            simnet::Endpoint::tcp("127.0.0.1", front_.port(), platform::IpFamily::V4));
    }
    ~NetworkTransport() override {
        simnet::setConfiguredEndpoint(std::nullopt);
        front_.stop();
    }
    SimEmulator& simulator() override { return sim_; }

private:
    SimEmulator sim_;
    simnet::EmulatorFront front_;
};

}  // namespace

std::unique_ptr<ScenarioTransport> makeScenarioTransport(Clock& clock) {
    return std::make_unique<NetworkTransport>(clock);
}
