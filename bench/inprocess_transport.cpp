// The SimConnect functions of the in-process emulator act on the emulator
// installed last: this one.
#include "bench_transport.h"

namespace {

class InProcessTransport final : public BenchTransport {
public:
    SimEmulator& simulator() override { return sim_; }
    SimConnectClient::SimulatorPolicy policy() const override { return {}; }
    const char* label() const override { return "in-process"; }

private:
    SimEmulator sim_;
};

}  // namespace

std::unique_ptr<BenchTransport> makeBenchTransport(std::string&) {
    return std::make_unique<InProcessTransport>();
}
