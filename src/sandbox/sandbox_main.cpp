// corvanehid-sandbox: the program on virtual panels and an emulated
// simulator; with --linked, the program on virtual panels and the simulator
// its configured SimConnect client reaches (corvanehid-simulator, say).
// Usage: corvanehid-sandbox [--linked] [--config PATH] [--hid-trace]
#include <iostream>
#include <string>

#include "log/logger.h"
#include "sandbox/sandbox.h"

int main(int argc, char** argv) {
    std::string configPath = "examples/config.json";
    bool hidTrace = false;
    Sandbox::SimulatorSide side = Sandbox::SimulatorSide::Emulated;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--config" && i + 1 < argc) {
            configPath = argv[++i];
        } else if (arg == "--linked") {
            side = Sandbox::SimulatorSide::Linked;
        } else if (arg == "--hid-trace") {
            hidTrace = true;
        } else if (arg == "--help" || arg == "-h") {
            std::cout << "Usage: corvanehid-sandbox [--linked] [--config PATH] [--hid-trace]\n\n"
                      << Sandbox::help() << std::endl;
            return 0;
        }
    }
    Sandbox sandbox(std::cout, side);
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
