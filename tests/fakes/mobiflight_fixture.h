#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "emulation/emulator_library.h"
#include "emulation/sim_emulator.h"
#include "fakes/log_capture.h"
#include "fakes/test_clocks.h"
#include "sim/mobiflight_client.h"
#include "sim/simconnect_client.h"

// The MobiFlight client wired to a SimConnect client as the Application
// wires them, against the simulator emulator. The MobiFlight client and the
// emulator share `clock` (so recorded command times show the client's own
// pacing); the SimConnect worker runs on its own clock so that its 15 ms
// pump does not move that time.
class MobiFlightTest : public ::testing::Test {
protected:
    void TearDown() override {
        mobiflight.stop();
        simConnect.stop();
    }

    void start(MobiFlightSettings settings = {}) {
        mobiflight.setLVarHandler([this](const LVarPayload& payload) {
            std::lock_guard<std::mutex> guard(mutex);
            lvars.push_back(payload.shown());
        });
        std::string error;
        ASSERT_TRUE(mobiflight.start(simConnect, settings, error)) << error;
        ASSERT_TRUE(simConnect.start(
            "CorvaneHID", [this](bool connected) { mobiflight.onSimConnectState(connected); }, {},
            error))
            << error;
    }

    void startReady(MobiFlightSettings settings = {}) {
        sim.setSimulatorRunning(true);
        start(settings);
        ASSERT_TRUE(waitFor([&] { return mobiflight.isReady(); }));
        ASSERT_TRUE(waitForCommand("MF.SimVars.Add.(L:LIGHTING_POTENTIOMETER_5)"));
        // The line follows the ready flag.
        ASSERT_TRUE(waitFor([&] { return log.count("MobiFlight client registered") > 0; }));
    }

    static bool waitFor(const std::function<bool()>& condition) {
        return SimEmulator::waitUntil(condition, std::chrono::milliseconds(10000));
    }

    std::vector<std::string> commands() const { return sim.moduleCommandTexts(); }

    // The texts the module saw on one channel ("CorvaneHID.Command" is the
    // client's own, "MobiFlight.Command" the default one).
    std::vector<std::string> commandsOn(const std::string& channel) const {
        std::vector<std::string> texts;
        for (const auto& command : sim.moduleCommands()) {
            if (command.channel == channel) texts.push_back(command.text);
        }
        return texts;
    }
    std::vector<std::string> ownCommands() const { return commandsOn("CorvaneHID.Command"); }

    int countCommand(const std::string& text) const {
        const auto all = commands();
        return static_cast<int>(std::count(all.begin(), all.end(), text));
    }

    bool waitForCommand(const std::string& text, int times = 1) const {
        return waitFor([&] { return countCommand(text) >= times; });
    }

    std::vector<std::string> lvarTexts() {
        std::lock_guard<std::mutex> guard(mutex);
        return lvars;
    }

    LogCapture log;
    ManualClock clock{ManualClock::Mode::Step};
    ManualClock simConnectClock{ManualClock::Mode::Step};
    SimEmulator sim{clock};
    EmulatorLibrary simLibrary{sim};
    SimConnectClient simConnect{simLibrary, simConnectClock, sim.processProbe()};
    MobiFlightClient mobiflight{clock};
    std::mutex mutex;
    std::vector<std::string> lvars;
};
