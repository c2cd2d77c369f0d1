// The scenarios in-process: the program's SimConnect functions are those of
// corvane_sim_emulation, acting on the installed emulator.
#include "scenario_transport.h"

namespace {

class InProcessTransport final : public ScenarioTransport {
public:
    explicit InProcessTransport(Clock& clock) : sim_(clock) {}
    SimEmulator& simulator() override { return sim_; }

private:
    SimEmulator sim_;  // installs itself for the SimConnect functions
};

}  // namespace

std::unique_ptr<ScenarioTransport> makeScenarioTransport(Clock& clock) {
    return std::make_unique<InProcessTransport>(clock);
}
