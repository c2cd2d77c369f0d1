#pragma once

#include <functional>
#include <string>
#include <vector>

#include "common/command_table.h"
#include "emulation/sim_emulator.h"
#include "simulator/emulator_front.h"

// The typed commands of the standalone simulator: the simulator's life
// (start, stop, quit, crash) and frames (fps, stall), the aircraft and the
// flight, the master battery, the panel light, the MobiFlight module's
// states, a status line. One table row per command;
// the help text is made from the rows.
//
// Keeps no record of its own: what it shows comes from the emulator, whose
// records are bounded.
//
// Threads: execute() from one thread at a time (the input reader). The
// print function is called from that thread only.
class SimulatorConsole {
public:
    using Words = CommandTable::Words;
    using Print = std::function<void(const std::string& line)>;

    // Both must outlive the console.
    SimulatorConsole(SimEmulator& sim, const simnet::EmulatorFront& front, Print print);

    // One command line; false when the program should end (quit, exit).
    bool execute(const std::string& line);

    static std::string help();

    SimulatorConsole(const SimulatorConsole&) = delete;
    SimulatorConsole& operator=(const SimulatorConsole&) = delete;

private:
    struct Commands {
        CommandTable top;
        CommandTable frames;  // after "sim"
        CommandTable module;
    };
    // The rows; `self` is null when only the help text is wanted.
    static void buildCommands(SimulatorConsole* self, Commands& commands);

    bool commandSim(const Words& w);
    bool commandBattery(const Words& w);
    bool commandLight(const Words& w);
    bool commandModule(const Words& w);
    bool commandStatus(const Words& w);
    bool commandWait(const Words& w);
    bool commandHelp(const Words& w);
    bool commandQuit(const Words& w);

    bool modulePresence(const Words& w);
    bool moduleLate(const Words& w);
    bool moduleAnswered(const Words& w);
    bool moduleReply(const Words& w);
    bool moduleSecondClient(const Words& w);
    bool moduleStatus(const Words& w);

    void say(const std::string& text) { print_("[simulator] " + text); }

    SimEmulator& sim_;
    const simnet::EmulatorFront& front_;
    Print print_;
    Commands commands_;
    bool battery_ = true;  // as last set here; the emulator starts with it on
};
