// The whole program on a virtual panel and the simulator emulator: from a
// plugged panel and a simulator that starts later, through a button press,
// the backlight and the battery, to the simulator quitting the program.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <optional>
#include <thread>

#include "app/application.h"
#include "emulation/emulator_library.h"
#include "emulation/sim_emulator.h"
#include "emulation/virtual_hid_bus.h"
#include "fakes/log_capture.h"
#include "fakes/panels.h"
#include "fakes/temp_dir.h"
#include "fakes/test_clocks.h"
#include "log/logger.h"

namespace {

using ::testing::HasSubstr;

const char kConfig[] = R"({
  "hid": {"vid": "0x2E8A", "pid": "0x10C0", "readIntervalMs": 2, "scanIntervalMs": 1000},
  "mappings": {"buttonConfigPath": "buttons.json", "hidEventMapPath": "events.json"},
  "mobiflight": {"enabled": 1, "mapHoldRepeatMs": 100},
  "logging": {"debug": 1},
  "outputs": {
    "debounceMs": 50,
    "defaultProfile": "day",
    "profiles": {"day": {"backlight": {"mode": "lvar", "min": 0, "max": 100}}}
  },
  "devices": [{"boardId": "E6614103E7452D2F", "role": "PFD"}]
})";

const char kButtons[] = R"json({
  "buttons": [{"name": "SOFTKEY_1", "commands": {"PRESS": {"PFD": "(>H:SOFTKEY_1)"}}}]
})json";

const char kEvents[] = R"({
  "event_types": {"BUTTON": 1, "ENCODER": 2},
  "control_ids": {"SOFTKEY_1": 41}
})";

const char kBoardId[] = "E6614103E7452D2F";

class EndToEndTest : public ::testing::Test {
protected:
    EndToEndTest() {
        writeFileBytes(dir.file("config.json"), kConfig);
        writeFileBytes(dir.file("buttons.json"), kButtons);
        writeFileBytes(dir.file("events.json"), kEvents);
        panel = bus.addPanel(fakes::panelSpec("virtual://pfd", kBoardId, "SN-PFD"));
    }
    ~EndToEndTest() override { Logger::instance().close(); }

    // Real-time wait for a report the panel received.
    bool waitReport(const std::function<bool(const emulation::ReceivedReport&)>& match) {
        return SimEmulator::waitUntil([&] {
            const auto reports = panel->received();
            return std::any_of(reports.begin(), reports.end(), match);
        });
    }
    bool waitCommand(const std::string& text) {
        return SimEmulator::waitUntil([&] {
            const auto texts = sim.moduleCommandTexts();
            return std::find(texts.begin(), texts.end(), text) != texts.end();
        });
    }

    TempDir dir;
    // Ten times faster: the simulator worker's 5 s wait for the simulator
    // process takes half a second.
    ScaledClock clock{10};
    SimEmulator sim;
    EmulatorLibrary simLibrary{sim};
    emulation::VirtualHidBus bus;  // reads wait in real time
    std::optional<emulation::VirtualPanel> panel;
};

TEST_F(EndToEndTest, PressBacklightBatteryAndSimulatorExit) {
    AppServices services;
    services.hidBus = &bus;
    services.clock = &clock;
    services.simulatorProbe = sim.processProbe();
    services.simConnectLibrary = &simLibrary;
    services.executableDir = dir.path();
    Application app(services);
    std::string error;
    ASSERT_TRUE(app.initialize(dir.file("config.json"), false, error)) << error;
    std::atomic<bool> returned{false};
    std::thread runner([&] {
        app.run();
        returned = true;
    });
    // A failed assertion returns early: stop the program before it goes away.
    struct Joiner {
        Application& app;
        std::thread& thread;
        ~Joiner() {
            app.requestStop();
            if (thread.joinable()) thread.join();
        }
    } joiner{app, runner};

    // No simulator yet: the panel shows the disconnected effect.
    EXPECT_TRUE(
        waitReport([](const auto& r) { return fakes::isLedReport(r, HidProtocol::kLedFlash, 0); }));

    sim.setBattery(true);
    sim.setLVar("LIGHTING_POTENTIOMETER_5", 0.5f);
    sim.setSimulatorRunning(true);
    EXPECT_TRUE(waitReport([](const auto& r) { return fakes::isSimStatusReport(r, true); }));
    ASSERT_TRUE(waitCommand("MF.SimVars.Add.(L:LIGHTING_POTENTIOMETER_5)"));
    EXPECT_TRUE(waitReport(
        [](const auto& r) { return fakes::isLedReport(r, HidProtocol::kLedSteady, 50); }));

    panel->pushButton(41, 1);
    panel->pushButton(41, 0);
    ASSERT_TRUE(waitCommand("MF.SimVars.Set.1 (>H:SOFTKEY_1)"))
        << LogLines(dir.file("CorvaneHID.log")).dump();
    // The dummy follows the command a moment later, from the same worker.
    std::vector<std::string> texts;
    auto press = texts.end();
    ASSERT_TRUE(SimEmulator::waitUntil([&] {
        texts = sim.moduleCommandTexts();
        press = std::find(texts.begin(), texts.end(), "MF.SimVars.Set.1 (>H:SOFTKEY_1)");
        return press != texts.end() && press + 1 != texts.end();
    }));
    EXPECT_EQ(*(press + 1), "MF.DummyCmd");

    sim.setLVar("LIGHTING_POTENTIOMETER_5", 0.25f);
    EXPECT_TRUE(waitReport(
        [](const auto& r) { return fakes::isLedReport(r, HidProtocol::kLedSteady, 25); }));
    sim.setBattery(false);
    EXPECT_TRUE(waitReport(
        [](const auto& r) { return fakes::isLedReport(r, HidProtocol::kLedBreathe, 0); }));

    sim.exitSimulator();
    EXPECT_TRUE(SimEmulator::waitUntil([&] { return returned.load(); }));
    runner.join();
    EXPECT_TRUE(waitReport([](const auto& r) { return fakes::isSimStatusReport(r, false); }));

    const LogLines log(dir.file("CorvaneHID.log"));
    EXPECT_EQ(log.count("HID event from E6614103E7452D2F index=0 type=1 action=BUTTON_PRESS "
                        "role=PFD(BUTTON) controlId=41(SOFTKEY_1) value=1 speed=0 mode=0 "
                        "rpn=queued"),
              1)
        << log.dump();
    EXPECT_EQ(log.count("State update: master battery 2=0"), 1);
    EXPECT_EQ(log.count("Application run loop stopped"), 1);
    EXPECT_TRUE(log.messages("ERROR").empty()) << log.dump();
}

}  // namespace
