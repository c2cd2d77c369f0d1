// corvanehid-simulator: the emulated simulator with its MobiFlight module,
// served over SimConnect's network protocol on 127.0.0.1 (and, on Windows,
// on the simulator's own pipe), scripted from standard input. Every
// connection, command the module receives and event transmitted is printed.
//
// Usage: corvanehid-simulator [--port N] [--no-pipe]
#include <cstddef>
#include <cstdio>
#include <iostream>
#include <string>

#include "common/mutex.h"
#include "emulation/sim_emulator.h"
#include "log/logger.h"
#include "platform/stream_transport.h"
#include "simnet/wire_protocol.h"
#include "simulator/emulator_front.h"
#include "simulator/simulator_console.h"

namespace {

// The port a SimConnect.cfg names for a simulator that accepts network
// clients on this machine (docs/simulator.md).
constexpr std::uint16_t kDefaultPort = 500;
// How long quitting waits for the clients to take their QUIT.
constexpr std::chrono::milliseconds kQuitGrace{3000};
// How much the emulator keeps of each of its records (module commands,
// events, exceptions, opens, client names). Nothing here reads them back
// (the console prints through the trace sink and counts totals), so they
// stay small enough to fill within minutes even at the pace of one entry a
// minute; each entry's texts are bounded (names up to 255 characters,
// commands up to their area's 1 KiB), so the records are bounded in bytes.
constexpr std::size_t kRecordLimit = 8;
constexpr const char* kUsage = "Usage: corvanehid-simulator [--port N] [--no-pipe]";

struct Options {
    std::uint16_t port = kDefaultPort;
    bool pipe = true;
};

// Whole lines to standard output, one write each, so they never mix with
// the log lines written there from other threads.
class Printer {
public:
    void operator()(const std::string& line) {
        MutexLock guard(lock_);
        const std::string text = line + "\n";
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fflush(stdout);
    }

private:
    Mutex lock_;
};

bool parsePort(const std::string& text, std::uint16_t& port) {
    if (text.empty() || text.size() > 5 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const unsigned long value = std::stoul(text);
    if (value > 65535) return false;
    port = static_cast<std::uint16_t>(value);
    return true;
}

// 0 to go on, else the exit code (1 for a bad option, 0 after --help).
int parseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--port" && i + 1 < argc && parsePort(argv[i + 1], options.port)) {
            ++i;
        } else if (option == "--no-pipe") {
            options.pipe = false;
        } else if (option == "--help" || option == "-h") {
            std::cout << kUsage << "\n\n"
                      << "  --port N    TCP port on 127.0.0.1 (default " << kDefaultPort
                      << "; 0 takes a free one)\n"
                      << "  --no-pipe   Windows: do not serve the simulator's pipe\n\n"
                      << SimulatorConsole::help() << std::endl;
            return -1;
        } else {
            std::cerr << "corvanehid-simulator: bad option " << option << "\n"
                      << kUsage << std::endl;
            return 1;
        }
    }
    return 0;
}

simnet::EmulatorFrontOptions frontOptions(const Options& options) {
    simnet::EmulatorFrontOptions front;
    front.server.tcpPort = options.port;
    if (options.pipe && platform::localPipesAvailable())
        front.server.pipeName = simnet::kSimulatorPipeName;
    return front;
}

std::string whereServed(const simnet::EmulatorFront& front, const simnet::EmulatorFrontOptions& o) {
    std::string text = "serving 127.0.0.1:" + std::to_string(front.port());
    if (!o.server.pipeName.empty()) text += " and " + o.server.pipeName;
    return text;
}

// The simulator quits as the real one does (QUIT to every client, whose
// links then end) and the clients get a moment to take it.
void quitSimulator(SimEmulator& sim) {
    sim.exitSimulator();
    SimEmulator::waitUntil([&] { return sim.openConnectionCount() == 0; }, kQuitGrace);
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (const int code = parseOptions(argc, argv, options)) return code < 0 ? 0 : code;
    Logger::instance().open("", "", 0, 0, true);  // the server's lines, on the console only

    Printer print;
    SimEmulator sim(Clock::system(), kRecordLimit);
    sim.setTraceSink([&print](const std::string& line) { print("[sim] " + line); });
    sim.setSimulatorRunning(true);
    sim.setBattery(true);

    const simnet::EmulatorFrontOptions served = frontOptions(options);
    simnet::EmulatorFront front(sim, served);
    std::string error;
    if (!front.start(error)) {
        if (!served.server.pipeName.empty() &&
            error.find(served.server.pipeName) != std::string::npos)
            error += " (does a simulator serve it already? --no-pipe leaves it alone)";
        else if (options.port != 0 && options.port < 1024)
            error += " (ports below 1024 may need administrator rights: choose one with --port N)";
        std::cerr << "corvanehid-simulator: cannot serve: " << error << std::endl;
        return 1;
    }
    print("[simulator] " + whereServed(front, served) + ". Type help for the commands.");

    SimulatorConsole console(sim, front, [&print](const std::string& line) { print(line); });
    for (std::string line; std::getline(std::cin, line);) {
        if (!console.execute(line)) break;
    }
    quitSimulator(sim);
    front.stop();
    sim.setTraceSink(nullptr);
    print("[simulator] stopped");
    return 0;
}
