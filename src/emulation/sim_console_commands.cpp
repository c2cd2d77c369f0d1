#include "emulation/sim_console_commands.h"

#include <chrono>
#include <cstdlib>

#include "common/ascii.h"

namespace emulation {

namespace {

using Words = CommandTable::Words;

// A number written in full ("60", "29.5"); false for anything else.
bool parseNumber(const std::string& text, double& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return end && *end == '\0';
}

std::string numberText(double value) {
    std::string text = std::to_string(value);
    text.erase(text.find_last_not_of('0') + 1);
    if (!text.empty() && text.back() == '.') text.pop_back();
    return text;
}

bool aircraft(SimEmulator& sim, const Say& say, const Words& w) {
    if (w.size() != 4 || w[2].empty()) {
        say("aircraft \"<title>\" \"<aircraft.cfg path>\" \"<ATC model>\"");
        return true;
    }
    sim.setAircraft({w[2], w[1], w[3]});  // the emulator's trace reports it
    return true;
}

bool flight(SimEmulator& sim, const Say& say, const Words& w) {
    const std::string what = w.size() == 2 ? toLowerAscii(w[1]) : std::string();
    bool changed = false;
    if (what == "start") {
        changed = sim.startFlight();
    } else if (what == "stop") {
        changed = sim.stopFlight();
    } else if (what == "pause" || what == "resume") {
        changed = sim.setPaused(what == "pause");
    } else {
        say("flight start|stop|pause|resume");
        return true;
    }
    if (changed) return true;  // the emulator's trace reports it
    say(std::string("nothing to do: ") + (!sim.flying() ? "no flight runs (main menu)"
                                          : sim.paused() ? "the flight is paused"
                                                         : "the flight runs"));
    return true;
}

bool fps(SimEmulator& sim, const Say& say, const Words& w) {
    double rate = 0;
    if (w.size() != 2 || !parseNumber(w[1], rate) || !sim.setFrameRate(rate)) {
        say("sim fps N, above 0 and up to " + numberText(SimEmulator::kMaxFrameRate));
        return true;
    }
    say("frames at " + numberText(rate) + " per second");
    return true;
}

bool stall(SimEmulator& sim, const Say& say, const Words& w) {
    double ms = 0;
    if (w.size() != 2 || !parseNumber(w[1], ms) || ms < 0) {
        say("sim stall MS");
        return true;
    }
    sim.stallFrames(std::chrono::microseconds(static_cast<long long>(ms * 1000)));
    say("no frame for " + numberText(ms) + " ms");
    return true;
}

// A row's handler: `run` with the emulator and the reporter.
CommandTable::Handler row(SimEmulator* sim, Say say,
                          bool (*run)(SimEmulator&, const Say&, const Words&)) {
    return [sim, say = std::move(say), run](const Words& w) { return run(*sim, say, w); };
}

}  // namespace

void addFlightCommands(CommandTable& top, SimEmulator* sim, Say say) {
    top.add("aircraft", "\"TITLE\" \"PATH\" \"MODEL\"",
            "load an aircraft: its title, aircraft.cfg path and ATC model (quoted)",
            row(sim, say, &aircraft))
        .add("flight", "start|stop|pause|resume",
             "a flight starts, ends (main menu), pauses or resumes", row(sim, say, &flight));
}

void addFrameCommands(CommandTable& simWords, SimEmulator* sim, Say say) {
    simWords.add("fps", "N", "frames per second (default 30)", row(sim, say, &fps))
        .add("stall", "MS", "no frame ends for MS milliseconds", row(sim, say, &stall));
}

}  // namespace emulation
