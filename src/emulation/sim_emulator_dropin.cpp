// The drop-in SimConnect library (SimConnect.dll / libSimConnect.so) built
// from the emulator, so process-level tests can run the real program
// against a simulator they script through the environment:
//
//   CORVANE_SIM_EMULATOR             options for SimEmulator::configure, e.g.
//                                    "running,battery=on,backlight=0.4";
//                                    unset or empty: no simulator (opens fail)
//   CORVANE_SIM_EMULATOR_LOG         file that receives one line per happening
//                                    ("open CorvaneHID", "command MF.Ping", …)
//   CORVANE_SIM_EMULATOR_QUIT_FILE   once this file exists, the simulator exits
//                                    (QUIT to the connection, opens fail)
//
// An unknown option is reported on standard error and leaves no simulator.

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "emulation/emulator_library.h"
#include "emulation/sim_emulator.h"
#include "sim/simconnect_dropin.h"

namespace {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

class DropInSimulator {
public:
    DropInSimulator() {
        std::string error;
        if (!emulator_.configure(environment("CORVANE_SIM_EMULATOR"), error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            emulator_.setSimulatorRunning(false);
        }
        const std::string logPath = environment("CORVANE_SIM_EMULATOR_LOG");
        if (!logPath.empty()) {
            emulator_.setTraceSink([logPath](const std::string& line) {
                std::ofstream out(logPath, std::ios::app | std::ios::binary);
                out << line << '\n';
            });
        }
        quitFile_ = environment("CORVANE_SIM_EMULATOR_QUIT_FILE");
        if (!quitFile_.empty()) emulator_.setDispatchHook([this] { checkQuitFile(); });
    }

    simconnect::Library& library() { return library_; }

private:
    // Runs whenever the client pumps messages, which it does while connected.
    void checkQuitFile() {
        if (quitSent_.load() || !std::ifstream(quitFile_).good()) return;
        if (!quitSent_.exchange(true)) emulator_.exitSimulator();
    }

    SimEmulator emulator_;
    EmulatorLibrary library_{emulator_};
    std::string quitFile_;
    std::atomic<bool> quitSent_{false};
};

}  // namespace

simconnect::Library& simconnect::dropInLibrary() {
    // Built on first use, which is after the library has loaded.
    static DropInSimulator simulator;
    return simulator.library();
}
