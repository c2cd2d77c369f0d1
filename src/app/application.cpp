#include "app/application.h"
#include "app/simulator_link.h"

#include <filesystem>
#include <iostream>
#include <system_error>
#include <thread>

#include "common/ascii.h"
#include "common/mutex.h"
#include "common/program_name.h"
#include "log/logger.h"
#include "mapping/session_link.h"
#include "platform/paths.h"

namespace {

constexpr std::uint64_t kLogMaxBytes = 5242880;
constexpr std::int32_t kLogMaxFiles = 5;
constexpr auto kRunLoopPeriod = std::chrono::milliseconds(100);

bool fileExists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(platform::toPath(path), ec) && !ec;
}

// A path as it names a file from here: absolute and without "." or "..".
std::string fullPath(const std::string& path) {
    std::error_code ec;
    const std::filesystem::path full = std::filesystem::absolute(platform::toPath(path), ec);
    return ec ? path : platform::fromPath(full.lexically_normal());
}

// The first lines of every run: which program, which files. Several runs
// end up in one log, and these tell them apart.
void logStartHeader(const std::string& configPath) {
    logInfo(std::string("CorvaneHID version ") + CORVANE_VERSION);  // the text the guides quote
    logInfo("Executable: " + platform::executablePath());
    logInfo("Configuration file: " + fullPath(configPath));
    logInfo("Log file: " + fullPath(Logger::instance().filePath()));
}

}  // namespace

// The console reader is detached and may still wait for a line after the
// Application is gone; it reaches the Application only through this link,
// which the Application clears (under the lock) before it is destroyed.
struct Application::ConsoleLink {
    ConsoleLink(Application* owner, std::shared_ptr<std::istream> in)
        : app(owner), input(std::move(in)) {}

    Mutex lock;
    Application* app GUARDED_BY(lock);
    const std::shared_ptr<std::istream> input;  // the reader's alone
};

AppServices AppServices::system(platform::HidBus& bus) {
    AppServices services;
    services.hidBus = &bus;
    services.makeDeviceWatcher = [] { return platform::createSystemDeviceWatcher(); };
    services.executableDir = platform::parentPath(platform::executablePath());
    services.appDataDir = platform::commonAppDataDir();
    return services;
}

Application::Application(AppServices services)
    : services_(std::move(services)),
      hid_(*services_.hidBus, *services_.clock),
      mapping_(*services_.clock) {
    buildConsoleCommands();
}

Application::~Application() {
    stopDeviceWatcher();
    stopAll();
    detachConsole();
}

void Application::setHidTraceOverride(bool value) {
    hidTraceOverridePresent_ = true;
    hidTraceOverrideValue_ = value;
}

std::string missingConfigText(const std::string& configPath, const std::string& executableDir,
                              const std::string& appDataDir) {
    std::string text = "Config file not found: " + configPath;
    std::string locations;
    for (const std::string& location : defaultConfigSearchOrder(executableDir, appDataDir)) {
        if (!locations.empty()) locations += "; ";
        locations += location;
    }
    if (!locations.empty()) text += " (default search order: " + locations + ")";
    return text;
}

bool Application::initialize(const std::string& configPath, bool consoleMode, std::string& error) {
    consoleMode_ = consoleMode;
    openLog();
    logInfo("Initializing application");
    logStartHeader(configPath);
    if (!loadConfiguration(configPath, error) || !loadMaps(error) || !chooseSimulatorLink(error)) {
        return false;
    }
    session_ = std::make_unique<MobiFlightSession>(*simconnect_, config_.mobiflight);
    link_ = std::make_unique<SessionLink>(*simconnect_, *session_, *services_.clock);
    if (!mapping_.start(config_, buttonConfig_, eventMap_, *link_, panelOutput_, error)) {
        return failed("Failed to start mapping engine: ", error);
    }
    installCallbacks();
    if (!startLinks(error)) {
        stopAll();
        return false;
    }
    startDeviceWatcher();
    if (config_.cdc.enabled) {
        logWarn("CDC debug requested but this build does not include CDC support");
    }
    logInfo("HID manager started");
    return true;
}

bool Application::failed(const std::string& what, const std::string& error) {
    logError(what + error);
    return false;
}

// Beside the program in console mode, else in the user's application data.
void Application::openLog() {
    std::string logFolder = services_.executableDir;
    if (!consoleMode_ && !services_.appDataDir.empty()) {
        logFolder = platform::joinPath(platform::joinPath(services_.appDataDir, "Corvane"), "logs");
    }
    Logger::instance().open(logFolder, kProgramName, kLogMaxBytes, kLogMaxFiles, consoleMode_);
}

bool Application::loadConfiguration(const std::string& configPath, std::string& error) {
    if (!fileExists(configPath)) {
        error = missingConfigText(configPath, services_.executableDir, services_.appDataDir);
        return failed("", error);
    }
    if (!loadAppConfig(configPath, config_, error)) return failed("", error);
    if (hidTraceOverridePresent_) config_.trace = hidTraceOverrideValue_;
    Logger::instance().setDebugEnabled(config_.loggingDebug || config_.trace);
    logInfo("Configuration loaded");
    return true;
}

// The event map only names controls: a broken one is a warning. The button
// configuration is what the panels do: a broken one stops the start.
bool Application::loadMaps(std::string& error) {
    std::string text;
    if (!config_.hidEventMapPath.empty() && !eventMap_.load(config_.hidEventMapPath, text)) {
        logWarn("Failed to load HID event map: " + text);
        eventMap_ = EventMap();  // a half-read map names controls wrongly: run without names
    }
    if (!buttonConfig_.load(config_.buttonConfigPath, error)) {
        return failed("Failed to load button config: ", error);
    }
    return true;
}

// The SimConnect the program talks through, and where it connects. A
// SimConnect.dll asked for but not usable stops the start (one ERROR, by
// the caller): taking the built-in client instead would hide what the
// user chose.
bool Application::chooseSimulatorLink(std::string& error) {
    const SimConnectProvider provider = services_.simConnectLibrary
                                            ? SimConnectProvider::Emulator
                                            : configuredProvider(config_.simulator);
    const SimulatorLinkPlan link =
        planSimulatorLinkHere(config_.simulator, services_.executableDir, provider);
    simconnect::Library* library = services_.simConnectLibrary;
    if (!library) {
        ownLibrary_ = makeSimConnectLibrary(link, services_.executableDir, error);
        if (!ownLibrary_) return false;
        library = ownLibrary_.get();
    }
    logInfo("SimConnect client: " + library->describe());
    applySimulatorLink(link, config_.simulator);
    simconnect_ =
        std::make_unique<SimConnectClient>(*library, *services_.clock, services_.simulatorProbe);
    simconnect_->setSimulatorPolicy(link.policy);
    return true;
}

// The panels and the simulator link, in that order;
// the caller stops whatever started when one fails.
bool Application::startLinks(std::string& error) {
    hid_.setTrace(config_.trace);
    HidSettings settings{config_.vid, config_.pid, config_.readIntervalMs, config_.scanIntervalMs};
    auto sink = [this](const HidProtocol::HidEvent& event, const std::string& name,
                       std::int32_t index) { mapping_.submit(event, name, index); };
    hid_.setPanelListener([this](const PanelChange& change) {
        if (change.kind == PanelChange::Kind::Added) {
            mapping_.post(engine_event::PanelAdded{change.name, change.index, change.connection});
        } else {
            mapping_.post(engine_event::PanelRemoved{change.name, change.index, change.connection});
        }
    });
    if (!hid_.start(settings, sink, error)) return failed("Failed to start HID manager: ", error);
    auto panelsPresent = [this] { return hid_.deviceCount() > 0; };
    auto onConnection = [this](bool connected) { onSimConnection(connected); };
    if (!simconnect_->start(kProgramName, onConnection, panelsPresent, error)) {
        return failed("Failed to start SimConnect client: ", error);
    }
    return true;
}

// On the SimConnect worker: every part that follows the link learns of it.
void Application::onSimConnection(bool connected) {
    hid_.setSimConnected(connected);
    mapping_.post(engine_event::LinkChanged{connected});
}

void Application::installCallbacks() {
    session_->setLVarHandler(
        [this](const LVarPayload& payload) { mapping_.post(engine_event::LVarValue{payload}); });
    if (config_.mobiflight.enabled) {
        simconnect_->setClientDataHandler(
            [this](std::uint32_t requestId, const std::uint8_t* data, std::uint32_t size) {
                mapping_.post(engine_event::ClientData{
                    requestId, std::vector<std::uint8_t>(data, data + (data ? size : 0))});
            });
    }
    simconnect_->setBatteryHandler(
        [this](bool on) { mapping_.post(engine_event::BatteryChanged{on}); });
    simconnect_->setExitHandler([this] { requestStop(); });
}

void Application::startDeviceWatcher() {
    if (!services_.makeDeviceWatcher) return;
    if (!watcher_) watcher_ = services_.makeDeviceWatcher();
    std::string text;
    if (!watcher_ || !watcher_->start([this] { hid_.scan(); }, text)) {
        logWarn("Failed to register HID device notifications: " + text);
    }
}

void Application::stopDeviceWatcher() {
    if (watcher_) watcher_->stop();
}

void Application::stopAll() {
    mapping_.stop();
    if (simconnect_) {
        simconnect_->stop();
        simconnect_->setClientDataHandler({});
    }
    if (session_) session_->stop();
    hid_.stop();
}

void Application::run() {
    logInfo("Application run loop started");
    if (consoleMode_) startConsoleThread();
    while (!stopRequested_.load())
        services_.clock->sleepFor(kRunLoopPeriod);
    stopDeviceWatcher();
    stopAll();
    detachConsole();
    logInfo("Application run loop stopped");
}

// After this the console reader, if it still waits for a line, ends without
// touching the Application.
void Application::detachConsole() {
    if (!console_) return;
    MutexLock guard(console_->lock);
    console_->app = nullptr;
}

void Application::startConsoleThread() {
    console_ = std::make_shared<ConsoleLink>(
        this, services_.consoleInput
                  ? services_.consoleInput
                  : std::shared_ptr<std::istream>(&std::cin, [](std::istream*) {}));
    std::string names;
    for (const std::string& name : consoleCommands_.primaryNames())
        names += (names.empty() ? "" : ", ") + name;
    std::thread([link = console_, names] {
        logInfo("Console commands: " + names);
        {
            MutexLock guard(link->lock);
            if (!link->app || link->app->stopRequested()) return;
        }
        std::string line;
        while (std::getline(*link->input, line)) {
            MutexLock guard(link->lock);
            if (!link->app || !link->app->handleConsoleLine(line)) return;
        }
    }).detach();
}

// The console commands; each handler returns false to end the console
// reader.
void Application::buildConsoleCommands() {
    using Words = CommandTable::Words;
    consoleCommands_
        .add("bootsel", "", "panels reboot into the boot loader",
             [this](const Words&) {
                 logInfo("Sending BOOTSEL command to devices");
                 hid_.sendBootsel();
                 return true;
             },
             {"boot"})
        .add("quit", "", "stop the program",
             [this](const Words&) {
                 logInfo("Stop requested from console");
                 requestStop();
                 return false;
             },
             {"exit"});
}

// Runs one console command (the whole line, any letter case); false ends
// the console reader.
bool Application::handleConsoleLine(const std::string& line) {
    const std::optional<bool> goOn = consoleCommands_.run({toLowerAscii(line)});
    if (goOn && !*goOn) return false;
    return !stopRequested();
}

std::vector<std::string> defaultConfigSearchOrder(const std::string& executableDir,
                                                  const std::string& appDataDir) {
    std::vector<std::string> order;
    if (!executableDir.empty()) {
        order.push_back(
            platform::joinPath(platform::joinPath(executableDir, "config"), "config.json"));
    }
    if (!appDataDir.empty()) {
        order.push_back(
            platform::joinPath(platform::joinPath(appDataDir, "Corvane"), "config.json"));
    }
    return order;
}
