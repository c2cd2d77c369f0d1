// The program's SimConnect acting on the emulator directly.
#include "bench_transport.h"
#include "emulation/emulator_library.h"

namespace {

class InProcessTransport final : public BenchTransport {
public:
    SimEmulator& simulator() override { return sim_; }
    simconnect::Library& library() override { return library_; }
    SimConnectClient::SimulatorPolicy policy() const override { return {}; }
    const char* label() const override { return "in-process"; }

private:
    SimEmulator sim_;
    EmulatorLibrary library_{sim_};
};

}  // namespace

std::unique_ptr<BenchTransport> makeInProcessTransport(std::string&) {
    return std::make_unique<InProcessTransport>();
}
