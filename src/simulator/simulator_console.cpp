#include "simulator/simulator_console.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <sstream>
#include <thread>

namespace {

constexpr const char* kPanelLightVariable = "LIGHTING_POTENTIOMETER_5";
constexpr const char* kOwnClient = "CorvaneHID";
constexpr const char* kDefaultModuleClient = "MobiFlight";

std::string lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

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
    : sim_(sim), front_(front), print_(std::move(print)) {}

const std::vector<SimulatorConsole::Command>& SimulatorConsole::commands() {
    static const std::vector<Command> table = {
        {"sim", "start|stop|quit|crash",
         "the simulator starts, stops, quits (QUIT to its clients) or crashes",
         &SimulatorConsole::commandSim},
        {"battery", "on|off", "the master battery", &SimulatorConsole::commandBattery},
        {"light|lvar", "VALUE", "the panel light knob, 0.0 to 1.0",
         &SimulatorConsole::commandLight},
        {"module", "", "", &SimulatorConsole::commandModule, &SimulatorConsole::moduleCommands},
        {"status", "", "the simulator, its clients and the module",
         &SimulatorConsole::commandStatus},
        {"wait", "MS", "pause (for scripts)", &SimulatorConsole::commandWait},
        {"help", "", "this text", &SimulatorConsole::commandHelp},
        {"quit|exit", "", "the simulator quits and this program ends",
         &SimulatorConsole::commandQuit},
    };
    return table;
}

const std::vector<SimulatorConsole::Command>& SimulatorConsole::moduleCommands() {
    static const std::vector<Command> table = {
        {"present|absent", "", "the MobiFlight module loaded now, or not installed",
         &SimulatorConsole::modulePresence},
        {"late", "[S]", "it loads S seconds (default 20) after the next connection",
         &SimulatorConsole::moduleLate},
        {"answered", "[CLIENT]",
         "its response area already holds CLIENT's registration answer (default CorvaneHID)",
         &SimulatorConsole::moduleAnswered},
        {"silent|finished", "", "it ignores registrations (an older module), or answers them",
         &SimulatorConsole::moduleReply},
        {"second-client", "", "another program registers variables on its default channel",
         &SimulatorConsole::moduleSecondClient},
        {"status", "[CLIENT]", "the variables of the default client and of CLIENT",
         &SimulatorConsole::moduleStatus},
    };
    return table;
}

const SimulatorConsole::Command* SimulatorConsole::find(const std::vector<Command>& table,
                                                        const std::string& name) {
    for (const Command& command : table) {
        std::istringstream names(command.names);
        for (std::string each; std::getline(names, each, '|');) {
            if (each == name) return &command;
        }
    }
    return nullptr;
}

std::string SimulatorConsole::helpOf(const std::vector<Command>& table, const std::string& prefix) {
    constexpr std::size_t kColumn = 34;
    std::string text;
    for (const Command& command : table) {
        if (command.subcommands) {
            text += helpOf(command.subcommands(), prefix + command.names + " ");
            continue;
        }
        std::string synopsis = "  " + prefix + command.names;
        if (*command.arguments) synopsis += std::string(" ") + command.arguments;
        synopsis.resize(std::max(synopsis.size() + 1, kColumn), ' ');
        text += synopsis + command.help + "\n";
    }
    return text;
}

std::string SimulatorConsole::help() {
    std::string text = "Commands:\n" + helpOf(commands(), "");
    text.pop_back();
    return text;
}

bool SimulatorConsole::execute(const std::string& line) {
    std::istringstream in(line);
    Words words;
    for (std::string word; in >> word;)
        words.push_back(word);
    if (words.empty()) return true;
    const Command* command = find(commands(), lower(words[0]));
    if (!command) {
        say("unknown command " + words[0] + " (type help)");
        return true;
    }
    return (this->*command->handler)(words);
}

bool SimulatorConsole::commandSim(const Words& w) {
    const std::string what = lower(arg(w, 1));
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
        say("sim start|stop|quit|crash");
        return true;
    }
    say("simulator " + what);
    return true;
}

bool SimulatorConsole::commandBattery(const Words& w) {
    const std::string state = lower(arg(w, 1));
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
    sim_.setLVar(kPanelLightVariable, static_cast<float>(value));
    say(std::string("panel light ") + arg(w, 1));
    return true;
}

bool SimulatorConsole::commandModule(const Words& w) {
    const Command* command = find(moduleCommands(), lower(arg(w, 1)));
    if (!command) {
        say("module present|absent|late [S]|answered [CLIENT]|silent|finished|second-client|"
            "status [CLIENT]");
        return true;
    }
    return (this->*command->handler)(Words(w.begin() + 1, w.end()));
}

bool SimulatorConsole::commandStatus(const Words&) {
    say(std::string("simulator ") + (sim_.simulatorRunning() ? "running" : "stopped") +
        ", battery " + (battery_ ? "on" : "off") + ", module " +
        (sim_.moduleLoaded() ? "loaded" : "not loaded") + ", port " +
        std::to_string(front_.port()));
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
    const bool present = lower(w[0]) == "present";
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
    const std::string client = w.size() > 1 ? w[1] : kOwnClient;
    sim_.moduleRespond("MF.Clients.Add." + client + ".Finished");
    say("the module's response area holds MF.Clients.Add." + client + ".Finished");
    return true;
}

bool SimulatorConsole::moduleReply(const Words& w) {
    const bool silent = lower(w[0]) == "silent";
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
         {std::string(kDefaultModuleClient), w.size() > 1 ? w[1] : std::string(kOwnClient)}) {
        std::string line;
        for (const std::string& variable : sim_.moduleVariables(client))
            line += " " + variable;
        say("module client " + client + ":" + (line.empty() ? " (none)" : line));
    }
    return true;
}
