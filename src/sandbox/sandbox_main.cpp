// corvanehid-sandbox: the program on virtual panels and an emulated
// simulator; corvanehid-sandbox-linked: the program on virtual panels and
// the simulator its SimConnect library reaches.
// Usage: corvanehid-sandbox[-linked] [--config PATH] [--hid-trace]
#include <iostream>
#include <string>

#include "log/logger.h"
#include "sandbox/sandbox.h"

namespace {

// The binary decides: corvanehid-sandbox carries its own emulator,
// corvanehid-sandbox-linked calls the SimConnect library it is linked with.
#ifdef CORVANE_SANDBOX_LINKED
constexpr Sandbox::SimulatorSide kSimulatorSide = Sandbox::SimulatorSide::Linked;
#else
constexpr Sandbox::SimulatorSide kSimulatorSide = Sandbox::SimulatorSide::Emulated;
#endif

}  // namespace

int main(int argc, char** argv) {
    std::string configPath = "examples/config.json";
    bool hidTrace = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--config" && i + 1 < argc) {
            configPath = argv[++i];
        } else if (arg == "--hid-trace") {
            hidTrace = true;
        } else if (arg == "--help" || arg == "-h") {
            std::cout << "Usage: corvanehid-sandbox [--config PATH] [--hid-trace]\n\n"
                      << Sandbox::help() << std::endl;
            return 0;
        }
    }
    Sandbox sandbox(std::cout, kSimulatorSide);
    std::string error;
    if (!sandbox.start(configPath, hidTrace, error)) {
        std::cerr << "corvanehid-sandbox: " << error << std::endl;
        Logger::instance().close();
        return 1;
    }
    const int code = sandbox.run(std::cin);
    Logger::instance().close();
    return code;
}
