#include "sandbox/sandbox.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <thread>

#include "log/logger.h"
#include "platform/paths.h"

namespace {

constexpr const char* kBacklightVariable = "LIGHTING_POTENTIOMETER_5";

std::string lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

std::vector<std::string> words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> result;
    for (std::string word; in >> word;)
        result.push_back(word);
    return result;
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

const char* effectName(std::uint8_t effect) {
    switch (effect) {
        case 0:
            return "off";
        case 1:
            return "steady";
        case 2:
            return "breathe";
        case 3:
            return "flash";
        default:
            return "unknown";
    }
}

std::array<std::uint8_t, 8> defaultBoardId(std::uint8_t last) {
    return {0xC0, 0x4A, 0x4E, 0x00, 0x00, 0x00, 0x00, last};
}

}  // namespace

Sandbox::Sandbox(std::ostream& out) : out_(out), console_(std::make_shared<LineChannel>()) {}

Sandbox::~Sandbox() {
    closeGate();
    console_->close();
    app_.reset();
}

void Sandbox::print(const std::string& line) {
    std::lock_guard<std::mutex> guard(outLock_);
    out_ << line << std::endl;
}

std::string Sandbox::help() {
    return "Commands (PANEL is a panel name such as pfd or mfd; the first panel when omitted):\n"
           "  press NAME [PANEL]            press and release a button (NAME from the event map, "
           "or a number)\n"
           "  down NAME [PANEL]             press a button and keep it down\n"
           "  up NAME [PANEL]               release it\n"
           "  hold NAME [MS] [PANEL]        press, hold for MS milliseconds (default 600), "
           "release\n"
           "  turn NAME +N|-N [fast] [PANEL] turn an encoder N detents (fast: speed 5)\n"
           "  event TYPE ID VALUE [SPEED] [MODE] [PANEL]  send a raw panel event\n"
           "  unplug [PANEL] | plug [PANEL]  pull a panel's cable or plug it back in\n"
           "  panels                        list the panels\n"
           "  sim start|stop|quit|crash     start the simulator, stop it, quit it (the program "
           "ends), or break the connection\n"
           "  battery on|off                the master battery\n"
           "  lvar VALUE                    the panel backlight potentiometer (0.0 to 1.0)\n"
           "  module present|absent         the MobiFlight module loaded now, or not installed\n"
           "  module late [S]               the module loads S seconds (default 20) after the "
           "next connection\n"
           "  module answered               its response area already holds this program's "
           "registration answer\n"
           "  module silent|finished        it ignores registrations (an older module), or "
           "answers them\n"
           "  module second-client          another program registers variables on its default "
           "channel\n"
           "  module status                 the variables of each module client\n"
           "  bootsel                       the program's console command: panels reboot into the "
           "boot loader\n"
           "  wait MS                       pause (for scripts)\n"
           "  help                          this text\n"
           "  quit                          stop the program";
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
        const std::uint8_t mode = role == "PFD" ? 0 : role == "MFD" ? 1 : 2;
        std::string name =
            role.empty() ? "panel" + std::to_string(panels_.size() + 1) : lower(role);
        if (findPanel(name)) name += std::to_string(panels_.size() + 1);
        add(name, boardId, mode);
    }
    if (!findPanel("pfd") && panels_.size() < 2) add("pfd", defaultBoardId(1), 0);
    if (!findPanel("mfd") && panels_.size() < 2) add("mfd", defaultBoardId(2), 1);
}

bool Sandbox::start(const std::string& configPath, bool hidTrace, std::string& error) {
    AppConfig config;
    if (!loadAppConfig(configPath, config, error)) return false;
    config_ = config;
    std::string ignored;
    if (!config_.hidEventMapPath.empty()) eventMap_.load(config_.hidEventMapPath, ignored);
    createPanels();

    sim_.setSimulatorRunning(true);
    sim_.setBattery(true);
    sim_.setLVar(kBacklightVariable, 0.6f);
    sim_.setTraceSink([this](const std::string& line) {
        if (line == "command MF.DummyCmd") return;  // follows every command; noise here
        print("[sim] " + line);
    });
    bus_.setReceiveObserver(
        [this](const std::string& path, const emulation::ReceivedReport& report) {
            print("[panel " + panelNameForPath(path) + "] " + describeReport(report));
        });

    AppServices services;
    services.hidBus = &bus_;
    services.simulatorProbe = sim_.processProbe();
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
    return true;
}

int Sandbox::run(std::istream& in) {
    auto finished = std::make_shared<std::atomic<bool>>(false);
    std::thread reader([this, gate = gate_, finished, &in] {
        // Runs one command unless the gate is closed; false ends the reader.
        auto run = [this, &gate](const std::vector<std::string>& parts) {
            std::lock_guard<std::mutex> guard(gate->lock);
            return !gate->closed && executeLocked(parts);
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
    std::lock_guard<std::mutex> guard(gate_->lock);
    if (gate_->closed) return false;
    return executeLocked(parts);
}

void Sandbox::closeGate() {
    std::lock_guard<std::mutex> guard(gate_->lock);
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
    if (b.size() >= 7 && b[0] == HidProtocol::kLedCtlReportId) {
        text = std::string("led_ctl ") + effectName(b[1]);
        if (b[1] == 1) {
            text += " brightness=" + std::to_string(b[2]);
        } else if (b[1] == 2 || b[1] == 3) {
            text += " param0=" + std::to_string(b[3]) +
                    " param1=" + std::to_string(b[4] | (b[5] << 8)) +
                    " param2=" + std::to_string(b[6]);
        }
    } else if (b.size() >= 2 && b[0] == HidProtocol::kSimStatusReportId) {
        text = std::string("sim_status ") + (b[1] ? "connected" : "disconnected");
    } else if (b.size() >= 2 && b[0] == HidProtocol::kDeviceCtlReportId) {
        text = "device_ctl action=" + std::to_string(b[1]) + (b[1] == 2 ? " (BOOTSEL)" : "");
    } else {
        text = "report " + HidProtocol::hexBytes(b.data(), b.size());
    }
    if (report.via == emulation::ReceivedReport::Via::SetOutputReport)
        text += " via HidD_SetOutputReport";
    return text;
}

bool Sandbox::executeLocked(const std::vector<std::string>& w) {
    const std::string command = lower(w[0]);
    auto arg = [&w](std::size_t i) { return i < w.size() ? w[i] : std::string(); };
    auto panelArg = [&](std::size_t i) -> Panel* {
        Panel* panel = i < w.size() ? findPanel(w[i]) : (panels_.empty() ? nullptr : &panels_[0]);
        if (!panel) print("[sandbox] no panel named " + arg(i) + " (try: panels)");
        return panel;
    };
    auto control = [&](std::uint16_t& id) {
        if (resolveControl(arg(1), id)) return true;
        print("[sandbox] unknown control " + arg(1) + " (names come from the HID event map)");
        return false;
    };

    if (command == "help" || command == "?") {
        print(help());
    } else if (command == "quit" || command == "exit") {
        console_->push("quit");
        return false;
    } else if (command == "bootsel" || command == "boot") {
        console_->push("bootsel");
    } else if (command == "wait") {
        long ms = 0;
        parseInt(arg(1), ms);
        std::this_thread::sleep_for(std::chrono::milliseconds(ms > 0 ? ms : 0));
    } else if (command == "press" || command == "down" || command == "up") {
        std::uint16_t id = 0;
        Panel* panel = nullptr;
        if (!control(id) || !(panel = panelArg(2))) return true;
        if (command != "up") panel->device.pushButton(id, 1, panel->mode);
        if (command != "down") panel->device.pushButton(id, 0, panel->mode);
    } else if (command == "hold") {
        std::uint16_t id = 0;
        long ms = 600;
        std::size_t panelAt = 2;
        if (parseInt(arg(2), ms)) panelAt = 3;
        Panel* panel = nullptr;
        if (!control(id) || !(panel = panelArg(panelAt))) return true;
        panel->device.pushButton(id, 1, panel->mode);
        panel->device.pushButton(id, 2, panel->mode);
        std::this_thread::sleep_for(std::chrono::milliseconds(ms > 0 ? ms : 0));
        panel->device.pushButton(id, 0, panel->mode);
    } else if (command == "turn") {
        std::uint16_t id = 0;
        long detents = 0;
        if (!control(id)) return true;
        if (!parseInt(arg(2), detents) || detents < -127 || detents > 127) {
            print("[sandbox] turn needs a detent count such as +3 or -2");
            return true;
        }
        std::size_t at = 3;
        std::uint8_t speed = 0;
        if (lower(arg(3)) == "fast") {
            speed = 5;
            at = 4;
        }
        if (Panel* panel = panelArg(at)) {
            panel->device.pushEncoder(id, static_cast<std::int8_t>(detents), speed, panel->mode);
        }
    } else if (command == "event") {
        long type = 0, id = 0, value = 0, speed = 0, mode = -1;
        if (!parseInt(arg(1), type) || !parseInt(arg(2), id) || !parseInt(arg(3), value)) {
            print("[sandbox] event TYPE ID VALUE [SPEED] [MODE] [PANEL]");
            return true;
        }
        std::size_t at = 4;
        if (parseInt(arg(at), speed)) ++at;
        if (parseInt(arg(at), mode)) ++at;
        if (Panel* panel = panelArg(at)) {
            HidProtocol::HidEvent event;
            event.type = static_cast<std::uint8_t>(type);
            event.controlId = static_cast<std::uint16_t>(id);
            event.value = static_cast<std::int8_t>(value);
            event.speed = static_cast<std::uint8_t>(speed);
            event.mode = mode < 0 ? panel->mode : static_cast<std::uint8_t>(mode);
            panel->device.pushEvent(event);
        }
    } else if (command == "unplug" || command == "plug") {
        if (Panel* panel = panelArg(1)) {
            if (command == "unplug") {
                panel->device.unplug();
            } else {
                panel->device.plug();
            }
            print("[sandbox] " + panel->name +
                  (command == "unplug" ? " unplugged" : " plugged in"));
        }
    } else if (command == "panels") {
        for (const Panel& panel : panels_) {
            print("[sandbox] " + panel.name + " " + panel.device.path() +
                  " mode=" + std::to_string(panel.mode) +
                  (panel.device.plugged() ? " plugged" : " unplugged"));
        }
    } else if (command == "sim") {
        const std::string what = lower(arg(1));
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
            print("[sandbox] sim start|stop|quit|crash");
        }
    } else if (command == "battery") {
        sim_.setBattery(lower(arg(1)) != "off");
    } else if (command == "lvar") {
        sim_.setLVar(kBacklightVariable, std::strtof(arg(1).c_str(), nullptr));
    } else if (command == "module") {
        executeModule(lower(arg(1)), arg(2));
    } else {
        print("[sandbox] unknown command " + w[0] + " (type help)");
    }
    return true;
}

void Sandbox::executeModule(const std::string& what, const std::string& argument) {
    const std::string client = config_.mobiflight.clientName;
    if (what == "present" || what == "absent") {
        sim_.setModuleLoaded(what == "present");
    } else if (what == "late") {
        const double seconds = argument.empty() ? 20.0 : std::strtod(argument.c_str(), nullptr);
        sim_.loadModuleAfterOpen(std::chrono::milliseconds(static_cast<long long>(seconds * 1000)));
        print("[sandbox] the module loads " + std::to_string(static_cast<long long>(seconds)) +
              " s after the next connection (try: sim crash)");
    } else if (what == "answered") {
        sim_.moduleRespond("MF.Clients.Add." + client + ".Finished");
    } else if (what == "silent" || what == "finished") {
        sim_.setRegistrationReply(what == "silent" ? SimEmulator::RegistrationReply::None
                                                   : SimEmulator::RegistrationReply::Finished);
    } else if (what == "second-client") {
        sim_.startSecondClient({"(L:SANDBOX_SECOND_CLIENT_A)", "(L:SANDBOX_SECOND_CLIENT_B)"});
    } else if (what == "status") {
        for (const std::string& name : {std::string("MobiFlight"), client}) {
            std::string line;
            for (const std::string& variable : sim_.moduleVariables(name))
                line += " " + variable;
            print("[sandbox] module client " + name + ":" + (line.empty() ? " (none)" : line));
        }
    } else {
        print(
            "[sandbox] module present|absent|late [S]|answered|silent|finished|second-client|"
            "status");
    }
}
