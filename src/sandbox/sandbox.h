#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "app/application.h"
#include "common/clock.h"
#include "common/command_table.h"
#include "common/mutex.h"
#include "config/app_config.h"
#include "config/event_map.h"
#include "emulation/emulator_library.h"
#include "emulation/sim_emulator.h"
#include "emulation/virtual_hid_bus.h"
#include "sandbox/line_channel.h"

// The real Application on virtual panels and an emulated simulator (with
// its MobiFlight module), driven by typed commands: "press MAP_LEFT",
// "turn HDG +3 fast", "unplug mfd", "sim quit", "battery off", "lvar 0.4",
// and the MobiFlight module's states ("module absent", "module late 20").
// Beside the program's own log it prints what the simulator received
// ("[sim] ...") and what each panel received ("[panel pfd] ...").
//
// Everything runs on one AdjustableClock: "wait 500" lets half a second of
// real time pass, "advance 500" moves the program's time on by half a second
// at once, timer by timer, and returns when what came due has run.
//
// Threads: start/run on the main thread; execute() from the command reader
// (run's helper thread) or, in tests, from the caller.
class Sandbox {
public:
    // Where the program's simulator is: the sandbox's own emulator, or
    // whatever the SimConnect client the configuration chooses reaches (the
    // built-in client and a simulator on its pipe or elsewhere, or the SDK's
    // SimConnect.dll). Linked, the simulator commands (sim, battery, lvar,
    // module) are refused, and the program waits for the simulator's
    // process as it does itself.
    enum class SimulatorSide { Emulated, Linked };

    explicit Sandbox(std::ostream& out, SimulatorSide side = SimulatorSide::Emulated);
    ~Sandbox();

    // Builds the virtual panels from the configuration's devices, starts the
    // simulator (running, battery on) and initializes the program.
    bool start(const std::string& configPath, bool hidTrace, std::string& error);

    // Runs the program until it stops; commands are read from `in` on a
    // helper thread. End of input quits. Returns the program's exit code.
    int run(std::istream& in);

    // One command line; false when the sandbox should end.
    bool execute(const std::string& line);

    static std::string help();

    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

private:
    // How much the emulator keeps of each of its records (module commands,
    // events, exceptions, opens) and each virtual panel of the reports it
    // received. The sandbox reads none of them back (it prints through the
    // trace sinks), so the records stay small enough to fill within the
    // first minutes and keep a run of hours flat in memory: at a soak's
    // pace some get an entry a minute (opens, mapped events), and 128 of
    // them were still filling after half an hour.
    static constexpr std::size_t kRecordLimit = 8;

    struct Panel {
        std::string name;  // lower case, e.g. "pfd"
        emulation::VirtualPanel device;
        std::uint8_t mode;  // mode byte the panel reports
    };

    using Words = CommandTable::Words;
    // The command rows: the top level, and the words after "sim" and
    // "module".
    struct Commands {
        CommandTable top;
        CommandTable sim;
        CommandTable module;
    };

    static void buildCommands(Sandbox* self, Commands& commands);
    static void buildSimCommands(Sandbox* self, CommandTable& sim);
    static void buildModuleCommands(Sandbox* self, CommandTable& module);

    void print(const std::string& line);
    void createPanels();
    Panel* findPanel(const std::string& name);
    bool resolveControl(const std::string& name, std::uint16_t& controlId) const;
    std::string describeReport(const emulation::ReceivedReport& report) const;
    std::string panelNameForPath(const std::string& path) const;
    bool executeLocked(const std::vector<std::string>& words) REQUIRES(gate_->lock);
    static std::string arg(const Words& w, std::size_t i);
    Panel* panelArg(const Words& w, std::size_t i);
    bool controlArg(const Words& w, std::uint16_t& id);

    // The commands (run under the gate's lock); false ends the sandbox.
    bool commandButton(const Words& w);
    bool commandHold(const Words& w);
    bool commandTurn(const Words& w);
    bool commandEvent(const Words& w);
    bool commandPlug(const Words& w);
    bool commandPanels(const Words& w);
    bool commandSim(const Words& w);
    bool commandBattery(const Words& w);
    bool commandLVar(const Words& w);
    bool commandModule(const Words& w);
    bool commandBootsel(const Words& w);
    bool commandWait(const Words& w);
    bool commandAdvance(const Words& w);
    bool commandHelp(const Words& w);
    bool commandQuit(const Words& w);
    bool moduleLate(const std::string& argument);
    bool moduleStatus();
    // executeLocked, unless the command needs the sandbox's own simulator
    // and there is none.
    bool executeHere(const std::vector<std::string>& words) REQUIRES(gate_->lock);
    void closeGate();

    Commands commands_;
    std::ostream& out_;
    const SimulatorSide side_;
    Mutex outLock_;  // one printed line at a time; held only while printing
    // Commands run under the gate's lock; once the gate is closed nothing
    // reaches this object any more. Shared with the command reader, which
    // may outlive the Sandbox while it waits for a line of standard input.
    struct Gate {
        Mutex lock;
        bool closed GUARDED_BY(lock) = false;
    };
    std::shared_ptr<Gate> gate_ = std::make_shared<Gate>();

    AppConfig config_;
    EventMap eventMap_;
    // The program's time, the emulator's and the virtual panels': the
    // machine's, moved on by "advance".
    AdjustableClock clock_;
    SimEmulator sim_{clock_, kRecordLimit};
    EmulatorLibrary simLibrary_{sim_};
    emulation::VirtualHidBus bus_{clock_, kRecordLimit};
    std::vector<Panel> panels_;
    std::shared_ptr<LineChannel> console_;
    std::unique_ptr<Application> app_;
};
