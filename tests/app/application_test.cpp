#include "app/application.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <thread>

#include "fakes/log_capture.h"
#include "log/logger.h"
#include "fakes/temp_dir.h"
#include "platform/paths.h"

namespace {

class NoPanelsBus final : public platform::HidBus {
public:
    std::vector<std::string> enumerate() override { return {}; }
    bool probe(const std::string&, std::uint16_t&, std::uint16_t&) override { return false; }
    std::unique_ptr<platform::HidReadHandle> openRead(const std::string&) override {
        return nullptr;
    }
    std::unique_ptr<platform::HidWriteHandle> openWrite(const std::string&) override {
        return nullptr;
    }
};

class RecordingWatcher final : public platform::DeviceWatcher {
public:
    explicit RecordingWatcher(std::string failure) : failure_(std::move(failure)) {}
    bool start(std::function<void()> onChange, std::string& error) override {
        ++starts;
        onChange_ = std::move(onChange);
        error = failure_;
        return failure_.empty();
    }
    void stop() override { ++stops; }
    int starts = 0;
    int stops = 0;

private:
    std::string failure_;
    std::function<void()> onChange_;
};

const char* kConfig = R"({
  "hid": {"vid": "0x2E8A", "pid": "0x10C0", "scanIntervalMs": 50},
  "mappings": {"buttonConfigPath": "buttons.json", "hidEventMapPath": "events.json"},
  "mobiflight": {"enabled": 0},
  "cdc": {"enabled": 1, "comPort": "COM7"}
})";
const char* kButtons =
    R"json({"buttons": [{"name": "MAP_LEFT", "commands": {"PRESS": {"DEFAULT": "(>H:LEFT)"}}}]})json";
const char* kEvents = R"({"event_types": {"BUTTON": 1}, "control_ids": {"MAP_LEFT": 3}})";

class ApplicationTest : public ::testing::Test {
protected:
    ApplicationTest() {
        services.hidBus = &bus;
        services.executableDir = exeDir.path();
        services.appDataDir = appData.path();
    }

    std::string writeConfig(const std::string& config = kConfig,
                            const std::string& events = kEvents) {
        writeFileBytes(configDir.file("buttons.json"), kButtons);
        writeFileBytes(configDir.file("events.json"), events);
        writeFileBytes(configDir.file("config.json"), config);
        return configDir.file("config.json");
    }

    // The log the Application opened in console mode (the executable's folder).
    LogLines consoleLog() const { return LogLines(exeDir.file("CorvaneHID.log")); }

    NoPanelsBus bus;
    TempDir exeDir;
    TempDir appData;
    TempDir configDir;
    AppServices services;
};

TEST_F(ApplicationTest, MissingConfigurationNamesTheDefaultSearchOrder) {
    Application app(services);
    std::string error;
    ASSERT_FALSE(app.initialize("absent.json", true, error));
    const std::string expected =
        "Config file not found: absent.json (default search order: " +
        platform::joinPath(platform::joinPath(exeDir.path(), "config"), "config.json") + "; " +
        platform::joinPath(platform::joinPath(appData.path(), "Corvane"), "config.json") + ")";
    EXPECT_EQ(error, expected);
    const LogLines log = consoleLog();
    EXPECT_EQ(log.messages("INFO").at(0), "Initializing application");
    EXPECT_EQ(log.messages("ERROR").at(0), expected);
}

// Several runs share one log: each starts by naming the program and its files.
TEST_F(ApplicationTest, StartNamesVersionExecutableConfigurationAndLog) {
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(platform::toPath(configDir.path()));
    Application app(services);
    std::string error;
    const bool started = app.initialize("absent.json", true, error);
    std::filesystem::current_path(before);
    ASSERT_FALSE(started);
    const auto info = consoleLog().messages("INFO");
    ASSERT_GE(info.size(), 5u);
    EXPECT_EQ(info[0], "Initializing application");
    EXPECT_EQ(info[1].rfind("CorvaneHID version ", 0), 0u) << info[1];
    EXPECT_GT(info[1].size(), std::string("CorvaneHID version ").size());
    EXPECT_EQ(info[2], "Executable: " + platform::executablePath());
    EXPECT_EQ(info[3], "Configuration file: " + configDir.file("absent.json"));
    EXPECT_EQ(info[4], "Log file: " + exeDir.file("CorvaneHID.log"));
}

TEST_F(ApplicationTest, MissingConfigurationWithoutKnownFoldersHasNoSearchOrder) {
    services.executableDir.clear();
    services.appDataDir.clear();
    Application app(services);
    std::string error;
    ASSERT_FALSE(app.initialize(configDir.file("absent.json"), true, error));
    EXPECT_EQ(error, "Config file not found: " + configDir.file("absent.json"));
}

TEST_F(ApplicationTest, LogGoesToTheMachineWideFolderOutsideConsoleMode) {
    Application app(services);
    std::string error;
    ASSERT_FALSE(app.initialize("absent.json", false, error));
    const std::string logFile = platform::joinPath(
        platform::joinPath(platform::joinPath(appData.path(), "Corvane"), "logs"),
        "CorvaneHID.log");
    EXPECT_EQ(LogLines(logFile).messages("INFO").at(0), "Initializing application");
}

TEST_F(ApplicationTest, StartsRunsConsoleCommandsAndStops) {
    const std::string config = writeConfig();
    auto* watcher = new RecordingWatcher("");
    services.makeDeviceWatcher = [watcher] {
        return std::unique_ptr<platform::DeviceWatcher>(watcher);
    };
    services.consoleInput =
        std::make_shared<std::istringstream>("BOOTSEL\n bootsel\nhelp\n\nQuit\nboot\n");
    Application app(services);
    std::string error;
    ASSERT_TRUE(app.initialize(config, true, error)) << error;
    EXPECT_EQ(watcher->starts, 1);
    app.run();  // returns once the console's "Quit" was read
    EXPECT_EQ(watcher->stops, 1);

    const LogLines log = consoleLog();
    EXPECT_EQ(log.count("Sending BOOTSEL command to devices"), 1) << log.dump();
    EXPECT_EQ(log.count("Stop requested from console"), 1);
    EXPECT_EQ(log.count("CDC debug requested but this build does not include CDC support"), 1);
    const auto info = log.messages("INFO");
    const std::vector<std::string> order = {"Initializing application", "Configuration loaded",
                                            "HID manager started", "Application run loop started",
                                            "Application run loop stopped"};
    std::size_t at = 0;
    for (const std::string& line : info) {
        if (at < order.size() && line == order[at]) ++at;
    }
    EXPECT_EQ(at, order.size()) << log.dump();
}

TEST_F(ApplicationTest, EndOfConsoleInputEndsOnlyTheReader) {
    const std::string config = writeConfig();
    services.consoleInput = std::make_shared<std::istringstream>("");
    Application app(services);
    std::string error;
    ASSERT_TRUE(app.initialize(config, true, error)) << error;
    std::thread stopper([&] {
        // The program keeps running after the input ended; stop it from here.
        for (int i = 0; i < 500 && consoleLog().count("Console commands: bootsel, quit") == 0;
             ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_FALSE(app.stopRequested());
        app.requestStop();
    });
    app.run();
    stopper.join();
    EXPECT_EQ(consoleLog().count("Application run loop stopped"), 1);
}

TEST_F(ApplicationTest, BrokenEventMapIsOnlyAWarningAndWatcherFailureToo) {
    const std::string config = writeConfig(kConfig, "{\"event_types\": {}}");
    services.makeDeviceWatcher = [] {
        return std::unique_ptr<platform::DeviceWatcher>(
            new RecordingWatcher("RegisterDeviceNotification failed"));
    };
    Application app(services);
    std::string error;
    ASSERT_TRUE(app.initialize(config, true, error)) << error;
    app.requestStop();
    app.run();
    const LogLines log = consoleLog();
    EXPECT_EQ(
        log.count("Failed to load HID event map: Event map missing valid event_types entries"), 1);
    EXPECT_EQ(
        log.count("Failed to register HID device notifications: RegisterDeviceNotification failed"),
        1);
}

TEST_F(ApplicationTest, NoEventMapPathMeansNoLoadAndNoWarning) {
    const std::string config = writeConfig(R"({
      "hid": {"vid": "1", "pid": "2"},
      "mappings": {"buttonConfigPath": "buttons.json"},
      "mobiflight": {"enabled": 0}
    })");
    Application app(services);
    std::string error;
    ASSERT_TRUE(app.initialize(config, true, error)) << error;
    app.requestStop();
    app.run();
    EXPECT_EQ(consoleLog().count("HID event map"), 0);
}

TEST_F(ApplicationTest, BrokenButtonFileIsFatal) {
    writeFileBytes(configDir.file("buttons.json"), "{\"buttons\": {}}");
    writeFileBytes(configDir.file("config.json"), kConfig);
    Application app(services);
    std::string error;
    ASSERT_FALSE(app.initialize(configDir.file("config.json"), true, error));
    EXPECT_EQ(error, "'buttons' must be an array");
    EXPECT_EQ(consoleLog().count("Failed to load button config: 'buttons' must be an array"), 1);
}

TEST_F(ApplicationTest, HidTraceOverrideTurnsDebugLinesOn) {
    const std::string config = writeConfig();
    Application app(services);
    app.setHidTraceOverride(true);
    std::string error;
    ASSERT_TRUE(app.initialize(config, true, error)) << error;
    EXPECT_TRUE(app.config().trace);
    EXPECT_TRUE(Logger::instance().isDebugEnabled());
    app.requestStop();
    app.run();
    Logger::instance().setDebugEnabled(false);
}

}  // namespace
