#include "sandbox/sandbox.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <thread>

#include "common/ascii.h"
#include "emulation/sim_console_commands.h"
#include "log/logger.h"
#include "platform/paths.h"
#include "sim/sim_variables.h"

namespace {

// A turn "fast" reports this speed (at or above HidProtocol::kFastSpeed).
constexpr std::uint8_t kSandboxFastSpeed = 5;
constexpr long kDefaultHoldMs = 600;
// "advance": the real time its steps may take before the rest of the time
// goes in one jump, and the longest real wait for the program to settle
// after each step (a thread that went on to wait outside the clock, or
// ended, is waited for this long).
constexpr auto kAdvanceStepsFor = std::chrono::milliseconds(300);
constexpr auto kAdvanceSettle = std::chrono::milliseconds(50);
// The most one "advance" moves the time (more is cut to it).
constexpr long kLongestAdvanceMs = 24L * 60 * 60 * 1000;

std::string lower(const std::string& text) {
    return toLowerAscii(text);
}

std::vector<std::string> words(const std::string& line) {
    return CommandTable::split(line);
}

bool parseInt(const std::string& text, long& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    value = std::strtol(text.c_str(), &end, 0);
    return end && *end == '\0';
}

std::uint16_t parseHexId(const std::string& text) {
    return static_cast<std::uint16_t>(std::strtoul(text.c_str(), nullptr, 16));
}

std::array<std::uint8_t, 8> defaultBoardId(std::uint8_t last) {
    return {0xC0, 0x4A, 0x4E, 0x00, 0x00, 0x00, 0x00, last};
}

}  // namespace

Sandbox::Sandbox(std::ostream& out, SimulatorSide side)
    : out_(out), side_(side), console_(std::make_shared<LineChannel>()) {
    buildCommands(this, commands_);
}

Sandbox::~Sandbox() {
    closeGate();
    console_->close();
    app_.reset();
}

void Sandbox::print(const std::string& line) {
    MutexLock guard(outLock_);
    out_ << line << std::endl;
}

std::string Sandbox::help() {
    Commands commands;
    buildCommands(nullptr, commands);
    return "Commands (PANEL is a panel name such as pfd or mfd; the first panel when omitted):\n" +
           commands.top.help();
}

// The command rows; `self` is null when only the help text is wanted.
void Sandbox::buildCommands(Sandbox* self, Commands& c) {
    using Words = CommandTable::Words;
    auto on = [self](bool (Sandbox::*handler)(const Words&)) {
        return [self, handler](const Words& w) { return (self->*handler)(w); };
    };
    c.top
        .add("press", "NAME [PANEL]",
             "press and release a button (NAME from the event map, or a number)",
             on(&Sandbox::commandButton))
        .add("down", "NAME [PANEL]", "press a button and keep it down", on(&Sandbox::commandButton))
        .add("up", "NAME [PANEL]", "release it", on(&Sandbox::commandButton))
        .add("hold", "NAME [MS] [PANEL]", "press, hold for MS milliseconds (default 600), release",
             on(&Sandbox::commandHold))
        .add("turn", "NAME +N|-N [fast] [PANEL]", "turn an encoder N detents (fast: speed 5)",
             on(&Sandbox::commandTurn))
        .add("event", "TYPE ID VALUE [SPEED] [MODE] [PANEL]", "send a raw panel event",
             on(&Sandbox::commandEvent))
        .add("unplug", "[PANEL]", "pull a panel's cable", on(&Sandbox::commandPlug))
        .add("plug", "[PANEL]", "plug it back in", on(&Sandbox::commandPlug))
        .add("panels", "", "list the panels", on(&Sandbox::commandPanels))
        .add("sim", "start|stop|quit|crash|fps N|stall MS",
             "start the simulator, stop it, quit it (the program ends), break the connection, "
             "run it at N frames per second (default 30), or hold its frames for MS ms",
             on(&Sandbox::commandSim))
        .add("battery", "on|off", "the master battery", on(&Sandbox::commandBattery))
        .add("lvar", "VALUE", "the panel backlight potentiometer (0.0 to 1.0)",
             on(&Sandbox::commandLVar))
        .add("module", "", "", on(&Sandbox::commandModule), {}, &c.module)
        .add("bootsel", "", "the program's console command: panels reboot into the boot loader",
             on(&Sandbox::commandBootsel), {"boot"})
        .add("wait", "MS", "pause (for scripts)", on(&Sandbox::commandWait))
        .add("advance", "MS", "move the program's time on by MS without waiting (for scripts)",
             on(&Sandbox::commandAdvance))
        .add("help", "", "this text", on(&Sandbox::commandHelp), {"?"})
        .add("quit", "", "stop the program", on(&Sandbox::commandQuit), {"exit"});
    buildSimCommands(self, c.sim);
    buildModuleCommands(self, c.module);
    const emulation::Say say = [self](const std::string& line) { self->print("[sandbox] " + line); };
    emulation::addFlightCommands(c.top, self ? &self->sim_ : nullptr, say);
}

void Sandbox::buildSimCommands(Sandbox* self, CommandTable& sim) {
    using Words = CommandTable::Words;
    sim.add("start", "", "start",
            [self](const Words&) {
                self->sim_.setSimulatorRunning(true);
                return true;
            })
        .add("stop", "", "stop",
             [self](const Words&) {
                 self->sim_.breakConnections();
                 self->sim_.setSimulatorRunning(false);
                 return true;
             })
        .add("quit", "", "quit",
             [self](const Words&) {
                 self->sim_.exitSimulator();
                 return true;
             })
        .add("crash", "", "crash", [self](const Words&) {
            self->sim_.breakConnections();
            return true;
        });
    emulation::addFrameCommands(sim, self ? &self->sim_ : nullptr,
                                [self](const std::string& line) { self->print("[sandbox] " + line); });
}

void Sandbox::buildModuleCommands(Sandbox* self, CommandTable& module) {
    using Words = CommandTable::Words;
    module
        .add("present|absent", "", "the MobiFlight module loaded now, or not installed",
             [self](const Words& w) {
                 self->sim_.setModuleLoaded(w[0] == "present");
                 return true;
             })
        .add("late", "[S]", "the module loads S seconds (default 20) after the next connection",
             [self](const Words& w) { return self->moduleLate(w.size() > 1 ? w[1] : ""); })
        .add("answered", "", "its response area already holds this program's registration answer",
             [self](const Words&) {
                 self->sim_.moduleRespond("MF.Clients.Add." + self->config_.mobiflight.clientName +
                                          ".Finished");
                 return true;
             })
        .add("silent|finished", "", "it ignores registrations (an older module), or answers them",
             [self](const Words& w) {
                 self->sim_.setRegistrationReply(w[0] == "silent"
                                                     ? SimEmulator::RegistrationReply::None
                                                     : SimEmulator::RegistrationReply::Finished);
                 return true;
             })
        .add("second-client", "", "another program registers variables on its default channel",
             [self](const Words&) {
                 self->sim_.startSecondClient(
                     {"(L:SANDBOX_SECOND_CLIENT_A)", "(L:SANDBOX_SECOND_CLIENT_B)"});
                 return true;
             })
        .add("status", "", "the variables of each module client",
             [self](const Words&) { return self->moduleStatus(); });
}

void Sandbox::createPanels() {
    const std::uint16_t vid = parseHexId(config_.vid);
    const std::uint16_t pid = parseHexId(config_.pid);
    auto add = [&](std::string name, const std::array<std::uint8_t, 8>& boardId,
                   std::uint8_t mode) {
        emulation::VirtualPanelSpec description;
        description.path = "virtual://" + name;
        description.vendorId = vid;
        description.productId = pid;
        description.serial = "SANDBOX-" + name;
        description.boardId = boardId;
        description.protocol = HidProtocol::ProtocolInfo{1, 0, 0};
        panels_.push_back(Panel{std::move(name), bus_.addPanel(description), mode});
    };
    for (const DeviceConfig& device : config_.devices) {
        std::array<std::uint8_t, 8> boardId{};
        if (device.boardId.empty() || !emulation::boardIdFromText(device.boardId, boardId))
            continue;
        const std::string role = normalizeKey(device.role);
        const std::uint8_t mode = role == "PFD"   ? HidProtocol::kModePfd
                                  : role == "MFD" ? HidProtocol::kModeMfd
                                                  : HidProtocol::kModeConfigured;
        std::string name =
            role.empty() ? "panel" + std::to_string(panels_.size() + 1) : lower(role);
        if (findPanel(name)) name += std::to_string(panels_.size() + 1);
        add(name, boardId, mode);
    }
    if (!findPanel("pfd") && panels_.size() < 2)
        add("pfd", defaultBoardId(1), HidProtocol::kModePfd);
    if (!findPanel("mfd") && panels_.size() < 2)
        add("mfd", defaultBoardId(2), HidProtocol::kModeMfd);
}

bool Sandbox::start(const std::string& configPath, bool hidTrace, std::string& error) {
    AppConfig config;
    if (!loadAppConfig(configPath, config, error)) return false;
    config_ = config;
    std::string ignored;
    if (!config_.hidEventMapPath.empty()) eventMap_.load(config_.hidEventMapPath, ignored);
    createPanels();

    if (side_ == SimulatorSide::Emulated) {
        sim_.setSimulatorRunning(true);
        sim_.setBattery(true);
        sim_.setLVar(kBacklightVariable, 0.6f);
        sim_.setTraceSink([this](const std::string& line) {
            if (line == "command MF.DummyCmd") return;  // follows every command; noise here
            print("[sim] " + line);
        });
    }
    bus_.setReceiveObserver(
        [this](const std::string& path, const emulation::ReceivedReport& report) {
            print("[panel " + panelNameForPath(path) + "] " + describeReport(report));
        });

    AppServices services;
    services.hidBus = &bus_;
    services.clock = &clock_;
    // Linked, the program waits for the simulator's process as it would
    // itself (the machine's process list, for a simulator on this machine).
    if (side_ == SimulatorSide::Emulated) {
        services.simulatorProbe = sim_.processProbe();
        services.simConnectLibrary = &simLibrary_;
    }
    services.consoleInput = console_;
    services.executableDir = platform::parentPath(platform::executablePath());
    app_ = std::make_unique<Application>(services);
    if (hidTrace) app_->setHidTraceOverride(true);
    if (!app_->initialize(configPath, true, error)) return false;
    Logger::instance().setDebugEnabled(true);  // show the per-event trace
    std::string names;
    for (const Panel& panel : panels_)
        names += " " + panel.name;
    print("[sandbox] panels:" + names + ". Type help for the commands.");
    if (side_ == SimulatorSide::Linked)
        print("[sandbox] the simulator is the one the configured SimConnect client reaches");
    return true;
}

int Sandbox::run(std::istream& in) {
    auto finished = std::make_shared<std::atomic<bool>>(false);
    std::thread reader([this, gate = gate_, finished, &in] {
        // Runs one command unless the gate is closed; false ends the reader.
        auto run = [this, &gate](const std::vector<std::string>& parts) {
            MutexLock guard(gate->lock);
            if (gate->closed) return false;
            gate_->lock.assertHeld();  // the same gate, and open: this Sandbox is still there
            return executeHere(parts);
        };
        std::string line;
        bool more = true;
        while (more && std::getline(in, line)) {
            const std::vector<std::string> parts = words(line);
            if (!parts.empty()) more = run(parts);
        }
        if (more) {
            // End of input: let the last commands take effect, then stop.
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            run({"quit"});
        }
        finished->store(true);
    });
    app_->run();
    print("[sandbox] the program stopped");
    closeGate();
    // A reader still waiting for a line of input cannot be woken; it ends
    // with the process and touches nothing behind the closed gate.
    if (finished->load()) {
        reader.join();
    } else {
        reader.detach();
    }
    return 0;
}

bool Sandbox::execute(const std::string& line) {
    const std::vector<std::string> parts = words(line);
    if (parts.empty()) return true;
    MutexLock guard(gate_->lock);
    if (gate_->closed) return false;
    return executeHere(parts);
}

bool Sandbox::executeHere(const std::vector<std::string>& words) {
    static const char* const kNeedOwnSimulator[] = {"sim",    "battery",  "lvar",
                                                    "module", "aircraft", "flight"};
    if (side_ == SimulatorSide::Linked) {
        for (const char* command : kNeedOwnSimulator) {
            if (lower(words[0]) != command) continue;
            print("[sandbox] " + words[0] +
                  ": the simulator is the linked SimConnect library's; script it there");
            return true;
        }
    }
    return executeLocked(words);
}

void Sandbox::closeGate() {
    MutexLock guard(gate_->lock);
    gate_->closed = true;
}

Sandbox::Panel* Sandbox::findPanel(const std::string& name) {
    for (Panel& panel : panels_) {
        if (panel.name == lower(name)) return &panel;
    }
    return nullptr;
}

std::string Sandbox::panelNameForPath(const std::string& path) const {
    for (const Panel& panel : panels_) {
        if (panel.device.path() == path) return panel.name;
    }
    return path;
}

bool Sandbox::resolveControl(const std::string& name, std::uint16_t& controlId) const {
    long number = 0;
    if (parseInt(name, number) && number >= 0 && number <= 0xFFFF) {
        controlId = static_cast<std::uint16_t>(number);
        return true;
    }
    const std::string wanted = normalizeKey(name);
    for (const auto& [id, control] : eventMap_.controlIds()) {
        if (normalizeKey(control) == wanted && id >= 0 && id <= 0xFFFF) {
            controlId = static_cast<std::uint16_t>(id);
            return true;
        }
    }
    return false;
}

std::string Sandbox::describeReport(const emulation::ReceivedReport& report) const {
    const std::vector<std::uint8_t>& b = report.bytes;
    std::string text;
    LedCommand led;
    if (HidProtocol::parseLedCtlReport(b.data(), b.size(), led)) {
        text = std::string("led_ctl ") + HidProtocol::ledEffectName(led.effect);
        if (led.effect == HidProtocol::kLedSteady) {
            text += " brightness=" + std::to_string(led.brightness);
        } else if (led.effect == HidProtocol::kLedBreathe || led.effect == HidProtocol::kLedFlash) {
            text += " param0=" + std::to_string(led.param0) +
                    " param1=" + std::to_string(led.param1) +
                    " param2=" + std::to_string(led.param2);
        }
    } else if (b.size() >= 2 && b[0] == HidProtocol::kSimStatusReportId) {
        text = std::string("sim_status ") + (b[1] ? "connected" : "disconnected");
    } else if (b.size() >= 2 && b[0] == HidProtocol::kDeviceCtlReportId) {
        text = "device_ctl action=" + std::to_string(b[1]) +
               (b[1] == HidProtocol::kDeviceCtlBootsel ? " (BOOTSEL)" : "");
    } else {
        text = "report " + HidProtocol::hexBytes(b.data(), b.size());
    }
    if (report.via == emulation::ReceivedReport::Via::SetOutputReport)
        text += " via HidD_SetOutputReport";
    return text;
}

bool Sandbox::executeLocked(const std::vector<std::string>& w) {
    std::vector<std::string> named = w;
    named[0] = lower(w[0]);
    const std::optional<bool> result = commands_.top.run(named);
    if (result) return *result;
    print("[sandbox] unknown command " + w[0] + " (type help)");
    return true;
}

std::string Sandbox::arg(const Words& w, std::size_t i) {
    return i < w.size() ? w[i] : std::string();
}

// The panel named by w[i]; the first panel when w has no such word.
Sandbox::Panel* Sandbox::panelArg(const Words& w, std::size_t i) {
    Panel* panel = i < w.size() ? findPanel(w[i]) : (panels_.empty() ? nullptr : &panels_[0]);
    if (!panel) print("[sandbox] no panel named " + arg(w, i) + " (try: panels)");
    return panel;
}

bool Sandbox::controlArg(const Words& w, std::uint16_t& id) {
    if (resolveControl(arg(w, 1), id)) return true;
    print("[sandbox] unknown control " + arg(w, 1) + " (names come from the HID event map)");
    return false;
}

bool Sandbox::commandButton(const Words& w) {
    std::uint16_t id = 0;
    Panel* panel = nullptr;
    if (!controlArg(w, id) || !(panel = panelArg(w, 2))) return true;
    if (w[0] != "up") panel->device.pushButton(id, HidProtocol::kButtonPressed, panel->mode);
    if (w[0] != "down") panel->device.pushButton(id, HidProtocol::kButtonReleased, panel->mode);
    return true;
}

bool Sandbox::commandHold(const Words& w) {
    std::uint16_t id = 0;
    long ms = kDefaultHoldMs;
    std::size_t panelAt = 2;
    if (parseInt(arg(w, 2), ms)) panelAt = 3;
    Panel* panel = nullptr;
    if (!controlArg(w, id) || !(panel = panelArg(w, panelAt))) return true;
    panel->device.pushButton(id, HidProtocol::kButtonPressed, panel->mode);
    panel->device.pushButton(id, HidProtocol::kButtonHeldFirst, panel->mode);
    std::this_thread::sleep_for(std::chrono::milliseconds(ms > 0 ? ms : 0));
    panel->device.pushButton(id, HidProtocol::kButtonReleased, panel->mode);
    return true;
}

bool Sandbox::commandTurn(const Words& w) {
    std::uint16_t id = 0;
    long detents = 0;
    if (!controlArg(w, id)) return true;
    if (!parseInt(arg(w, 2), detents) || detents < -127 || detents > 127) {
        print("[sandbox] turn needs a detent count such as +3 or -2");
        return true;
    }
    std::size_t at = 3;
    std::uint8_t speed = 0;
    if (lower(arg(w, 3)) == "fast") {
        speed = kSandboxFastSpeed;
        at = 4;
    }
    if (Panel* panel = panelArg(w, at)) {
        panel->device.pushEncoder(id, static_cast<std::int8_t>(detents), speed, panel->mode);
    }
    return true;
}

bool Sandbox::commandEvent(const Words& w) {
    long type = 0, id = 0, value = 0, speed = 0, mode = -1;
    if (!parseInt(arg(w, 1), type) || !parseInt(arg(w, 2), id) || !parseInt(arg(w, 3), value)) {
        print("[sandbox] event TYPE ID VALUE [SPEED] [MODE] [PANEL]");
        return true;
    }
    std::size_t at = 4;
    if (parseInt(arg(w, at), speed)) ++at;
    if (parseInt(arg(w, at), mode)) ++at;
    if (Panel* panel = panelArg(w, at)) {
        HidProtocol::HidEvent event;
        event.type = static_cast<std::uint8_t>(type);
        event.controlId = static_cast<std::uint16_t>(id);
        event.value = static_cast<std::int8_t>(value);
        event.speed = static_cast<std::uint8_t>(speed);
        event.mode = mode < 0 ? panel->mode : static_cast<std::uint8_t>(mode);
        panel->device.pushEvent(event);
    }
    return true;
}

bool Sandbox::commandPlug(const Words& w) {
    if (Panel* panel = panelArg(w, 1)) {
        const bool unplug = w[0] == "unplug";
        if (unplug) {
            panel->device.unplug();
        } else {
            panel->device.plug();
        }
        print("[sandbox] " + panel->name + (unplug ? " unplugged" : " plugged in"));
    }
    return true;
}

bool Sandbox::commandPanels(const Words&) {
    for (const Panel& panel : panels_) {
        print("[sandbox] " + panel.name + " " + panel.device.path() + " mode=" +
              std::to_string(panel.mode) + (panel.device.plugged() ? " plugged" : " unplugged"));
    }
    return true;
}

bool Sandbox::commandSim(const Words& w) {
    Words rest(w.begin() + 1, w.end());
    if (!rest.empty()) rest[0] = lower(rest[0]);
    if (!commands_.sim.run(rest)) {
        print("[sandbox] sim " + commands_.sim.synopsis());
    }
    return true;
}

bool Sandbox::commandBattery(const Words& w) {
    sim_.setBattery(lower(arg(w, 1)) != "off");
    return true;
}

bool Sandbox::commandLVar(const Words& w) {
    sim_.setLVar(kBacklightVariable, std::strtof(arg(w, 1).c_str(), nullptr));
    return true;
}

bool Sandbox::commandModule(const Words& w) {
    if (!commands_.module.run({lower(arg(w, 1)), arg(w, 2)})) {
        print("[sandbox] module " + commands_.module.synopsis());
    }
    return true;
}

bool Sandbox::commandBootsel(const Words&) {
    console_->push("bootsel");
    return true;
}

bool Sandbox::commandWait(const Words& w) {
    long ms = 0;
    parseInt(arg(w, 1), ms);
    std::this_thread::sleep_for(std::chrono::milliseconds(ms > 0 ? ms : 0));
    return true;
}

// Moves the time from one deadline of the program to the next, letting
// each settle, so that what a timer starts (a debounce after a change the
// simulator link brought) comes due within the same command. Past the real
// time the steps may take, the rest goes in one jump.
bool Sandbox::commandAdvance(const Words& w) {
    long ms = 0;
    parseInt(arg(w, 1), ms);
    const auto stepsEnd = std::chrono::steady_clock::now() + kAdvanceStepsFor;
    ms = std::max(0L, std::min(ms, kLongestAdvanceMs));
    const Clock::TimePoint target = clock_.now() + std::chrono::milliseconds(ms);
    clock_.waitSettled(kAdvanceSettle);
    for (Clock::TimePoint now = clock_.now(); now < target; now = clock_.now()) {
        Clock::TimePoint next = target;
        const std::optional<Clock::TimePoint> due = clock_.nextDeadline();
        if (due && *due < target && std::chrono::steady_clock::now() < stepsEnd) next = *due;
        clock_.advance(next - now);
        clock_.waitSettled(kAdvanceSettle);
    }
    return true;
}

bool Sandbox::commandHelp(const Words&) {
    print(help());
    return true;
}

bool Sandbox::commandQuit(const Words&) {
    console_->push("quit");
    return false;
}

bool Sandbox::moduleLate(const std::string& argument) {
    const double seconds = argument.empty() ? 20.0 : std::strtod(argument.c_str(), nullptr);
    sim_.loadModuleAfterOpen(std::chrono::milliseconds(static_cast<long long>(seconds * 1000)));
    print("[sandbox] the module loads " + std::to_string(static_cast<long long>(seconds)) +
          " s after the next connection (try: sim crash)");
    return true;
}

bool Sandbox::moduleStatus() {
    const std::string client = config_.mobiflight.clientName;
    for (const std::string& name : {std::string("MobiFlight"), client}) {
        std::string line;
        for (const std::string& variable : sim_.moduleVariables(name))
            line += " " + variable;
        print("[sandbox] module client " + name + ":" + (line.empty() ? " (none)" : line));
    }
    return true;
}
