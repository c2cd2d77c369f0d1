#pragma once

#include <atomic>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>

#include "common/clock.h"
#include "common/command_table.h"
#include "config/app_config.h"
#include "config/button_config.h"
#include "config/event_map.h"
#include "hid/hid_manager.h"
#include "mapping/hid_panel_output.h"
#include "mapping/mapping_engine.h"
#include "mapping/sim_link.h"
#include "platform/device_watcher.h"
#include "platform/hid_bus.h"
#include "sim/mobiflight_session.h"
#include "sim/simconnect_client.h"
#include "sim/simconnect_library.h"

// What the Application needs from the machine. The program passes the real
// services; the sandbox and the end-to-end tests pass emulations.
struct AppServices {
    platform::HidBus* hidBus = nullptr;  // required
    Clock* clock = &Clock::system();
    // Whether a simulator process runs; empty uses the process list.
    SimConnectClient::ProcessProbe simulatorProbe;
    // The SimConnect the program talks through (borrowed): the sandbox's and
    // the tests' emulator. Null: the one the configuration chooses
    // (simulator.client, src/app/simulator_link.h).
    simconnect::Library* simConnectLibrary = nullptr;
    // Creates the device-change watcher; empty means no watcher (periodic
    // rescans still find panels).
    std::function<std::unique_ptr<platform::DeviceWatcher>()> makeDeviceWatcher;
    // Source of console commands in console mode; null means standard input.
    // Shared because the console reader may outlive the Application while
    // it waits for a line.
    std::shared_ptr<std::istream> consoleInput;
    // Folders used for the log and the configuration search (and, beside
    // the program, its SimConnect.cfg).
    std::string executableDir;
    std::string appDataDir;

    // The operating system's services (bus owned by the caller).
    static AppServices system(platform::HidBus& bus);
};

// "Config file not found: <path>", followed by the default search order
// (config\config.json beside the executable, then the machine-wide folder)
// for each folder that is known.
std::string missingConfigText(const std::string& configPath, const std::string& executableDir,
                              const std::string& appDataDir);

// Owns every subsystem of a normal run: starts them in a fixed order, wires
// them together with callbacks, waits for a stop request and stops them in
// a fixed order. Used once: initialize, run, destroy.
//
// Threads: initialize/run on the main thread; requestStop from any thread,
// including a signal handler (it is a single atomic store).
class Application {
public:
    explicit Application(AppServices services);
    ~Application();

    void setHidTraceOverride(bool value);

    // Opens the log, loads the files and starts the subsystems. On false,
    // error holds the reason and everything started has been stopped.
    bool initialize(const std::string& configPath, bool consoleMode, std::string& error);

    // Blocks until a stop is requested, then stops everything.
    void run();

    void requestStop() { stopRequested_.store(true); }
    bool stopRequested() const { return stopRequested_.load(); }

    // The configuration in use (valid after a successful initialize).
    const AppConfig& config() const { return config_; }

    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

private:
    struct ConsoleLink;

    void openLog();
    bool loadConfiguration(const std::string& configPath, std::string& error);
    bool loadMaps(std::string& error);
    bool chooseSimulatorLink(std::string& error);
    bool startLinks(std::string& error);
    void onSimConnection(bool connected);
    // Logs what + error as an ERROR; returns false.
    static bool failed(const std::string& what, const std::string& error);
    void installCallbacks();
    void startDeviceWatcher();
    void stopDeviceWatcher();
    void stopAll();
    void startConsoleThread();
    void detachConsole();
    void buildConsoleCommands();
    bool handleConsoleLine(const std::string& line);

    // Members in construction order; destruction runs in reverse.
    AppServices services_;
    std::atomic<bool> stopRequested_{false};
    bool consoleMode_ = false;
    AppConfig config_;
    HidManager hid_;
    ButtonConfig buttonConfig_;
    // Chosen by initialize() from the configuration (or the services).
    std::unique_ptr<simconnect::Library> ownLibrary_;
    std::unique_ptr<SimConnectClient> simconnect_;
    std::unique_ptr<MobiFlightSession> session_;  // the engine thread's while it runs
    std::unique_ptr<SimLink> link_;               // the engine's view of both
    HidPanelOutput panelOutput_{hid_};
    EventMap eventMap_;
    MappingEngine mapping_;
    std::unique_ptr<platform::DeviceWatcher> watcher_;
    bool hidTraceOverridePresent_ = false;
    bool hidTraceOverrideValue_ = false;
    std::shared_ptr<ConsoleLink> console_;
    CommandTable consoleCommands_;  // built by the constructor, then only read
};

// Where the program looks for config.json when no --config is given, in
// order: beside the executable ("config" folder), then the machine's
// application data ("Corvane" folder). An empty folder adds no entry.
std::vector<std::string> defaultConfigSearchOrder(const std::string& executableDir,
                                                  const std::string& appDataDir);
