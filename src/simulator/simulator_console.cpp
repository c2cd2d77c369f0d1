#include "simulator/simulator_console.h"

#include <chrono>
#include <cstdlib>
#include <thread>

#include "common/ascii.h"
#include "common/program_name.h"
#include "emulation/sim_console_commands.h"
#include "sim/sim_variables.h"

namespace {

constexpr const char* kDefaultModuleClient = "MobiFlight";

std::string arg(const SimulatorConsole::Words& w, std::size_t i) {
    return i < w.size() ? w[i] : std::string();
}

// A number written in full ("0.4", "20"); false for anything else.
bool parseNumber(const std::string& text, double& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return end && *end == '\0';
}

}  // namespace

SimulatorConsole::SimulatorConsole(SimEmulator& sim, const simnet::EmulatorFront& front,
                                   Print print)
    : sim_(sim), front_(front), print_(std::move(print)) {
    buildCommands(this, commands_);
}

void SimulatorConsole::buildCommands(SimulatorConsole* self, Commands& c) {
    auto on = [self](bool (SimulatorConsole::*handler)(const Words&)) {
        return [self, handler](const Words& w) { return (self->*handler)(w); };
    };
    const emulation::Say say = [self](const std::string& line) { self->say(line); };
    SimEmulator* sim = self ? &self->sim_ : nullptr;
    c.top
        .add("sim", "start|stop|quit|crash",
             "the simulator starts, stops, quits (QUIT to its clients) or crashes",
             on(&SimulatorConsole::commandSim))
        // Shown in the help as "sim fps N" and "sim stall MS"; the row above runs them.
        .add("sim", "", "", on(&SimulatorConsole::commandSim), {}, &c.frames);
    emulation::addFlightCommands(c.top, sim, say);
    emulation::addFrameCommands(c.frames, sim, say);
    c.top
        .add("battery", "on|off", "the master battery", on(&SimulatorConsole::commandBattery))
        .add("light", "VALUE", "the panel light knob, 0.0 to 1.0",
             on(&SimulatorConsole::commandLight), {"lvar"})
        .add("module", "", "", on(&SimulatorConsole::commandModule), {}, &c.module)
        .add("status", "", "the simulator, its clients and the module",
             on(&SimulatorConsole::commandStatus))
        .add("wait", "MS", "pause (for scripts)", on(&SimulatorConsole::commandWait))
        .add("help", "", "this text", on(&SimulatorConsole::commandHelp), {"?"})
        .add("quit", "", "the simulator quits and this program ends",
             on(&SimulatorConsole::commandQuit), {"exit"});
    c.module
        .add("present|absent", "", "the MobiFlight module loaded now, or not installed",
             on(&SimulatorConsole::modulePresence))
        .add("late", "[S]", "it loads S seconds (default 20) after the next connection",
             on(&SimulatorConsole::moduleLate))
        .add("answered", "[CLIENT]",
             "its response area already holds CLIENT's registration answer (default "
             "CorvaneHID)",
             on(&SimulatorConsole::moduleAnswered))
        .add("silent|finished", "", "it ignores registrations (an older module), or answers them",
             on(&SimulatorConsole::moduleReply))
        .add("second-client", "", "another program registers variables on its default channel",
             on(&SimulatorConsole::moduleSecondClient))
        .add("status", "[CLIENT]", "the variables of the default client and of CLIENT",
             on(&SimulatorConsole::moduleStatus));
}

std::string SimulatorConsole::help() {
    Commands commands;
    buildCommands(nullptr, commands);
    return "Commands:\n" + commands.top.help(34);
}

bool SimulatorConsole::execute(const std::string& line) {
    Words words = CommandTable::split(line);
    if (words.empty()) return true;
    const std::string typed = words[0];
    words[0] = toLowerAscii(words[0]);
    const std::optional<bool> result = commands_.top.run(words);
    if (!result) say("unknown command " + typed + " (type help)");
    return result.value_or(true);
}

bool SimulatorConsole::commandSim(const Words& w) {
    const std::string what = toLowerAscii(arg(w, 1));
    if (what == "start") {
        sim_.setSimulatorRunning(true);
    } else if (what == "stop") {
        sim_.breakConnections();
        sim_.setSimulatorRunning(false);
    } else if (what == "quit") {
        sim_.exitSimulator();
    } else if (what == "crash") {
        sim_.breakConnections();
    } else {
        Words rest(w.begin() + 1, w.end());
        if (!rest.empty()) rest[0] = what;
        if (!commands_.frames.run(rest)) say("sim start|stop|quit|crash|" + commands_.frames.synopsis());
        return true;
    }
    say("simulator " + what);
    return true;
}

bool SimulatorConsole::commandBattery(const Words& w) {
    const std::string state = toLowerAscii(arg(w, 1));
    if (state != "on" && state != "off") {
        say("battery on|off");
        return true;
    }
    battery_ = state == "on";
    sim_.setBattery(battery_);
    say("battery " + state);
    return true;
}

bool SimulatorConsole::commandLight(const Words& w) {
    double value = 0;
    if (!parseNumber(arg(w, 1), value) || value < 0.0 || value > 1.0) {
        say("light VALUE, from 0.0 to 1.0");
        return true;
    }
    sim_.setLVar(kBacklightVariable, static_cast<float>(value));
    say(std::string("panel light ") + arg(w, 1));
    return true;
}

bool SimulatorConsole::commandModule(const Words& w) {
    Words rest(w.begin() + 1, w.end());
    if (!rest.empty()) rest[0] = toLowerAscii(rest[0]);
    if (!commands_.module.run(rest)) {
        say("module " + commands_.module.synopsis());
    }
    return true;
}

bool SimulatorConsole::commandStatus(const Words&) {
    say(std::string("simulator ") + (sim_.simulatorRunning() ? "running" : "stopped") +
        ", battery " + (battery_ ? "on" : "off") + ", module " +
        (sim_.moduleLoaded() ? "loaded" : "not loaded") + ", port " +
        std::to_string(front_.port()));
    const SimEmulator::Aircraft aircraft = sim_.aircraft();
    say("aircraft \"" + aircraft.title + "\" (" + aircraft.path + "), flight " +
        (!sim_.flying() ? "stopped" : sim_.paused() ? "paused" : "running") + ", " +
        std::to_string(static_cast<int>(sim_.frameRate())) + " frames per second");
    say("clients connected " + std::to_string(front_.clientCount()) + ", connections open " +
        std::to_string(sim_.openConnectionCount()) + ", opened so far " +
        std::to_string(sim_.connectionCount()) + ", module commands so far " +
        std::to_string(sim_.moduleCommandCount()));
    return true;
}

bool SimulatorConsole::commandWait(const Words& w) {
    double ms = 0;
    if (!parseNumber(arg(w, 1), ms) || ms < 0) {
        say("wait MS");
        return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<long long>(ms)));
    return true;
}

bool SimulatorConsole::commandHelp(const Words&) {
    print_(help());
    return true;
}

bool SimulatorConsole::commandQuit(const Words&) {
    return false;
}

bool SimulatorConsole::modulePresence(const Words& w) {
    const bool present = w[0] == "present";
    sim_.setModuleLoaded(present);
    say(present ? "module loaded" : "module absent");
    return true;
}

bool SimulatorConsole::moduleLate(const Words& w) {
    double seconds = 20;
    if (w.size() > 1 && (!parseNumber(w[1], seconds) || seconds < 0)) {
        say("module late [S]");
        return true;
    }
    sim_.loadModuleAfterOpen(std::chrono::milliseconds(static_cast<long long>(seconds * 1000)));
    say("the module loads " + (w.size() > 1 ? w[1] : std::string("20")) +
        " s after the next connection (try: sim crash)");
    return true;
}

bool SimulatorConsole::moduleAnswered(const Words& w) {
    const std::string client = w.size() > 1 ? w[1] : kProgramName;
    sim_.moduleRespond("MF.Clients.Add." + client + ".Finished");
    say("the module's response area holds MF.Clients.Add." + client + ".Finished");
    return true;
}

bool SimulatorConsole::moduleReply(const Words& w) {
    const bool silent = w[0] == "silent";
    sim_.setRegistrationReply(silent ? SimEmulator::RegistrationReply::None
                                     : SimEmulator::RegistrationReply::Finished);
    say(silent ? "the module ignores registrations" : "the module answers registrations");
    return true;
}

bool SimulatorConsole::moduleSecondClient(const Words&) {
    if (!sim_.moduleLoaded()) {
        say("the module is not loaded (try: module present)");
        return true;
    }
    sim_.startSecondClient({"(L:SIMULATOR_SECOND_CLIENT_A)", "(L:SIMULATOR_SECOND_CLIENT_B)"});
    say("a second client registered its variables on the default channel");
    return true;
}

bool SimulatorConsole::moduleStatus(const Words& w) {
    for (const std::string& client :
         {std::string(kDefaultModuleClient), w.size() > 1 ? w[1] : std::string(kProgramName)}) {
        std::string line;
        for (const std::string& variable : sim_.moduleVariables(client))
            line += " " + variable;
        say("module client " + client + ":" + (line.empty() ? " (none)" : line));
    }
    return true;
}
