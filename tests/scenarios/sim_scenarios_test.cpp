// The whole program on a virtual panel against the strict simulator
// emulator, in the situations the real simulator and MobiFlight module
// create: a restart while they keep running, a module that is missing or
// loads late, another program on the module's default channel, event names
// the simulator does not know, links that break at once, never answer, or
// go silent. Time runs ten times faster than real time (ScaledClock), so a
// 30-second wait of the program takes three seconds.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <optional>
#include <thread>

#include "app/application.h"
#include "emulation/virtual_hid_bus.h"
#include "fakes/log_capture.h"
#include "fakes/panels.h"
#include "fakes/temp_dir.h"
#include "fakes/test_clocks.h"
#include "log/logger.h"
#include "scenario_transport.h"

namespace {

using namespace std::chrono;

const char kConfig[] = R"({
  "hid": {"vid": "0x2E8A", "pid": "0x10C0", "readIntervalMs": 2, "scanIntervalMs": 1000},
  "mappings": {"buttonConfigPath": "buttons.json", "hidEventMapPath": "events.json"},
  "mobiflight": {"enabled": 1},
  "logging": {"debug": 1},
  "outputs": {
    "debounceMs": 50,
    "defaultProfile": "day",
    "profiles": {"day": {"backlight": {"mode": "lvar", "min": 10, "max": 90}}}
  },
  "devices": [{"boardId": "E6614103E7452D2F", "role": "PFD"}]
})";

const char kEvents[] = R"({
  "event_types": {"BUTTON": 1, "ENCODER": 2},
  "control_ids": {"AP_MASTER": 5, "AP_BC": 11, "AP_FLC": 16, "SOFTKEY_1": 41, "LONG": 42}
})";

const char kBoardId[] = "E6614103E7452D2F";
const std::string kOwnChannel = "CorvaneHID.Command";
const std::string kDefaultChannel = "MobiFlight.Command";
const std::string kSoftkey = "MF.SimVars.Set.1 (>H:SOFTKEY_1)";
constexpr std::uint16_t kApMaster = 5, kApBc = 11, kApFlc = 16, kSoftkeyId = 41, kLongId = 42;

// A calculator program of about 600 bytes.
std::string longRpn() {
    std::string rpn;
    while (rpn.size() < 590)
        rpn += "(L:SCENARIO_COUNTER) 1 + (>L:SCENARIO_COUNTER) ";
    return rpn;
}

std::string buttons() {
    return R"json({"buttons": [
      {"name": "SOFTKEY_1", "commands": {"PRESS": {"DEFAULT": "(>H:SOFTKEY_1)"}}},
      {"name": "AP_FLC", "commands": {"PRESS": {"DEFAULT": "(>K:FLIGHT_LEVEL_CHANGE)"}}},
      {"name": "LONG", "commands": {"PRESS": {"DEFAULT": ")json" +
           longRpn() + R"json("}}}
    ]})json";
}

class SimScenarioTest : public ::testing::TestWithParam<ScenarioLink> {
protected:
    SimScenarioTest() {
        writeFileBytes(dir.file("config.json"), kConfig);
        writeFileBytes(dir.file("buttons.json"), buttons());
        writeFileBytes(dir.file("events.json"), kEvents);
        panel = bus.addPanel(fakes::panelSpec("virtual://pfd", kBoardId, "SN-PFD"));
        sim.setBattery(true);
        sim.setSimulatorRunning(true);
    }
    ~SimScenarioTest() override {
        stopProgram();
        Logger::instance().close();
    }

    void startProgram() {
        AppServices services;
        services.hidBus = &bus;
        services.clock = &clock;
        services.simulatorProbe = sim.processProbe();
        services.simConnectLibrary = &transport->library();
        services.executableDir = dir.path();
        app = std::make_unique<Application>(services);
        std::string error;
        ASSERT_TRUE(app->initialize(dir.file("config.json"), false, error)) << error;
        returned = false;
        runner = std::thread([this] {
            app->run();
            returned = true;
        });
    }
    void stopProgram() {
        if (!app) return;
        app->requestStop();
        if (runner.joinable()) runner.join();
        app.reset();
    }

    // Real-time waits, long enough for a slow machine.
    static bool waitFor(const std::function<bool()>& condition) {
        return SimEmulator::waitUntil(condition, milliseconds(20000));
    }
    // Waits until `d` of program time has passed since `from`.
    bool waitProgramTime(Clock::TimePoint from, Clock::Duration d) {
        return waitFor([&] { return clock.now() - from >= d; });
    }
    bool waitReport(const std::function<bool(const emulation::ReceivedReport&)>& match) {
        return waitFor([&] {
            const auto reports = panel->received();
            return std::any_of(reports.begin(), reports.end(), match);
        });
    }

    // Module commands of the latest connection on a channel.
    std::vector<SimEmulator::ModuleCommand> commandsOn(const std::string& channel) const {
        std::vector<SimEmulator::ModuleCommand> found;
        for (const auto& command : sim.moduleCommands()) {
            if (command.channel == channel && command.connection == sim.connectionCount()) {
                found.push_back(command);
            }
        }
        return found;
    }
    // When the latest connection finished registering (its own channel's
    // clear), or nothing.
    std::optional<Clock::TimePoint> registeredAt() const {
        for (const auto& command : commandsOn(kOwnChannel)) {
            if (command.text == "MF.SimVars.Clear") return command.time;
        }
        return std::nullopt;
    }
    // The program registered with the module `times` times in all (the
    // clear comes a moment before it is ready to send).
    bool waitRegistered(int times = 1) {
        return waitFor([&] {
            return registeredAt().has_value() &&
                   log().count("MobiFlight client registered") >= times;
        });
    }
    bool waitCommand(const std::string& channel, const std::string& text) {
        return waitFor([&] {
            const auto found = commandsOn(channel);
            return std::any_of(found.begin(), found.end(),
                               [&](const auto& command) { return command.text == text; });
        });
    }
    void press(std::uint16_t control) {
        panel->pushButton(control, 1);
        panel->pushButton(control, 0);
    }
    std::vector<std::string> transmitted() const {
        std::vector<std::string> names;
        for (const auto& event : sim.transmittedEvents())
            names.push_back(event.name);
        return names;
    }
    LogLines log() const { return LogLines(dir.file("CorvaneHID.log")); }

    TempDir dir;
    ScaledClock clock{10};
    std::unique_ptr<ScenarioTransport> transport = makeScenarioTransport(GetParam(), clock);
    SimEmulator& sim = transport->simulator();
    emulation::VirtualHidBus bus;  // reads wait in real time
    std::optional<emulation::VirtualPanel> panel;
    std::unique_ptr<Application> app;
    std::thread runner;
    std::atomic<bool> returned{false};
};

// The program restarts while the simulator and the module keep running; the
// module's answer may then change no byte of its response area.
TEST_P(SimScenarioTest, ARestartRegistersWithinThreeSecondsWhateverTheAreaHeld) {
    std::vector<std::uint8_t> garbage(1024);
    for (std::size_t i = 0; i < garbage.size(); ++i)
        garbage[i] = static_cast<std::uint8_t>(i * 7 % 250 + 1);
    const std::vector<std::pair<std::string, std::function<void()>>> before{
        {"nothing", [] {}},
        {"an earlier pong", [&] { sim.moduleRespond("MF.Pong"); }},
        {"an earlier finish", [&] { sim.moduleRespond("MF.Clients.Add.CorvaneHID.Finished"); }},
        {"garbage", [&] { sim.writeClientData("MobiFlight.Response", 0, garbage); }},
    };
    int round = 0;
    for (const auto& [what, prepare] : before) {
        prepare();
        const int connections = sim.connectionCount();
        startProgram();
        ASSERT_TRUE(waitFor([&] { return sim.connectionCount() > connections; })) << what;
        ASSERT_TRUE(waitRegistered(++round)) << what;
        const Clock::TimePoint opened = sim.openTimes().back();
        EXPECT_LT(*registeredAt() - opened, seconds(3)) << what;
        press(kSoftkeyId);
        EXPECT_TRUE(waitCommand(kOwnChannel, kSoftkey)) << what;
        stopProgram();
    }
    EXPECT_EQ(sim.connectionCount(), 4);
}

TEST_P(SimScenarioTest, BacklightZeroAtConnectionShowsTheProfilesMinimum) {
    sim.setLVar("LIGHTING_POTENTIOMETER_5", 0.0f);
    startProgram();
    ASSERT_TRUE(waitRegistered());
    EXPECT_TRUE(waitReport([](const auto& r) {
        return fakes::isLedReport(r, HidProtocol::kLedSteady, 10);
    })) << log().dump();
}

// MobiFlight's own program uses the default channel with its own variables:
// our start, run and stop must leave them as they were.
TEST_P(SimScenarioTest, ASecondClientOnTheDefaultChannelKeepsItsVariablesAndValues) {
    sim.setLVar("SECOND_A", 2.0f);
    sim.setLVar("SECOND_B", 3.0f);
    sim.startSecondClient({"(L:SECOND_A)", "(L:SECOND_B)"});
    const auto variables = sim.moduleVariables("MobiFlight");
    const auto values = sim.clientData("MobiFlight.LVars");
    ASSERT_EQ(variables.size(), 2u);

    startProgram();
    ASSERT_TRUE(waitRegistered());
    press(kSoftkeyId);
    ASSERT_TRUE(waitCommand(kOwnChannel, kSoftkey));
    EXPECT_EQ(sim.moduleVariables("MobiFlight"), variables);
    EXPECT_EQ(sim.clientData("MobiFlight.LVars"), values);
    stopProgram();

    EXPECT_EQ(sim.moduleVariables("MobiFlight"), variables);
    EXPECT_EQ(sim.clientData("MobiFlight.LVars"), values);
    for (const auto& command : commandsOn(kDefaultChannel)) {
        EXPECT_TRUE(command.text == "MF.DummyCmd" || command.text == "MF.Ping" ||
                    command.text == "MF.Clients.Add.CorvaneHID")
            << command.text;
    }
}

TEST_P(SimScenarioTest, AMissingModuleIsWarnedOnceAndAutopilotPressesStillWork) {
    sim.setModuleLoaded(false);
    startProgram();
    ASSERT_TRUE(waitReport([](const auto& r) { return fakes::isSimStatusReport(r, true); }));
    const Clock::TimePoint opened = sim.openTimes().back();
    press(kApMaster);
    ASSERT_TRUE(waitFor([&] { return !transmitted().empty(); }));
    EXPECT_EQ(transmitted(), std::vector<std::string>{"AP_MASTER"});
    ASSERT_TRUE(waitProgramTime(opened, seconds(30)));
    const auto warnings = log().messages("WARN");
    ASSERT_EQ(warnings.size(), 1u) << log().dump();
    EXPECT_EQ(
        warnings[0],
        "MobiFlight module silent for 10 s; check that the MobiFlight WASM module is installed");
}

TEST_P(SimScenarioTest, AModuleLoadingTwentySecondsLateRegistersThen) {
    sim.loadModuleAfterOpen(seconds(20));
    startProgram();
    ASSERT_TRUE(waitRegistered());
    const Clock::Duration waited = *registeredAt() - sim.openTimes().back();
    EXPECT_GE(waited, seconds(20));
    EXPECT_LT(waited, seconds(27));  // the next try, at most 5 s later
    EXPECT_TRUE(waitFor([&] { return log().contains("MobiFlight module answered after 2"); }));
}

TEST_P(SimScenarioTest, AnFlcPressWhileTheModuleIsNotReadyUsesTheRealEvent) {
    sim.setRegistrationReply(SimEmulator::RegistrationReply::None);
    startProgram();
    ASSERT_TRUE(waitReport([](const auto& r) { return fakes::isSimStatusReport(r, true); }));
    press(kApFlc);
    ASSERT_TRUE(waitFor([&] { return !transmitted().empty(); }));
    EXPECT_EQ(transmitted(), std::vector<std::string>{"FLIGHT_LEVEL_CHANGE"});
    press(kApMaster);  // a later dispatch would have brought any exception by now
    ASSERT_TRUE(waitFor([&] { return transmitted().size() == 2; }));
    EXPECT_TRUE(sim.serverExceptions().empty());
}

// The simulator in use no longer knows one of the fallback events.
TEST_P(SimScenarioTest, AnUnknownEventNameGivesOneWarningNamingIt) {
    sim.forgetSimEvent("AP_BC_HOLD");
    startProgram();
    ASSERT_TRUE(waitRegistered());
    for (int i = 0; i < 3; ++i)
        press(kApBc);
    press(kApMaster);
    ASSERT_TRUE(waitFor([&] { return transmitted() == std::vector<std::string>{"AP_MASTER"}; }));
    ASSERT_TRUE(waitFor([&] { return log().contains("AP_BC_HOLD"); }));
    stopProgram();
    int naming = 0;
    for (const std::string& warning : log().messages("WARN"))
        naming += warning.find("AP_BC_HOLD") != std::string::npos;
    EXPECT_EQ(naming, 1) << log().dump();
    EXPECT_TRUE(
        log().contains("SimConnect exception NAME_UNRECOGNIZED for "
                       "SimConnect_MapClientEventToSimEvent(AP_BC_HOLD)"));
}

// A crashing simulator whose process lingers: every connection breaks at
// once, and the program backs off instead of reopening at once.
TEST_P(SimScenarioTest, ADispatchErrorAfterEveryOpenKeepsToTheBackOff) {
    sim.setBreakAfterOpen(simconnect::LINK_FAILED_RESULT);
    startProgram();
    ASSERT_TRUE(waitFor([&] { return sim.openTimes().size() >= 4; }));
    const auto opens = sim.openTimes();
    const std::vector<Clock::Duration> steps{seconds(5), seconds(10), seconds(20)};
    for (std::size_t i = 0; i < steps.size(); ++i)
        EXPECT_GE(opens[i + 1] - opens[i], steps[i]) << i;
}

TEST_P(SimScenarioTest, ASixHundredByteCommandArrivesWhole) {
    startProgram();
    ASSERT_TRUE(waitRegistered());
    press(kLongId);
    EXPECT_TRUE(waitCommand(kOwnChannel, "MF.SimVars.Set.1 " + longRpn()));
    EXPECT_FALSE(log().contains("truncated"));
}

TEST_P(SimScenarioTest, AnOpenNeverAnsweredIsReopenedAfterTenSeconds) {
    sim.setAnswersOpen(false);
    startProgram();
    ASSERT_TRUE(waitFor([&] { return sim.openTimes().size() == 1; }));
    sim.setAnswersOpen(true);
    ASSERT_TRUE(waitFor([&] { return sim.openTimes().size() == 2; }));
    const auto opens = sim.openTimes();
    EXPECT_GE(opens[1] - opens[0], seconds(10));
    EXPECT_TRUE(waitReport([](const auto& r) { return fakes::isSimStatusReport(r, true); }));
    EXPECT_TRUE(log().contains(
        "Waiting for SimConnect connection: no answer from the simulator within 10 s"));
}

// The link goes silent (no error, no QUIT) while the simulator's process ends.
TEST_P(SimScenarioTest, AVanishedSimulatorProcessIsADisconnectWithinSeconds) {
    startProgram();
    ASSERT_TRUE(waitRegistered());
    const Clock::TimePoint vanished = clock.now();
    sim.vanishSilently();
    ASSERT_TRUE(waitFor(
        [&] { return log().contains("SimConnect disconnected: simulator process ended"); }));
    EXPECT_LT(clock.now() - vanished, seconds(8));
    EXPECT_TRUE(waitFor([&] { return returned.load(); }));  // the simulator is gone: so are we
}

}  // namespace

INSTANTIATE_TEST_SUITE_P(Links, SimScenarioTest,
                         ::testing::Values(ScenarioLink::InProcess, ScenarioLink::Loopback),
                         [](const ::testing::TestParamInfo<ScenarioLink>& info) {
                             return info.param == ScenarioLink::InProcess ? "InProcess"
                                                                          : "Loopback";
                         });
