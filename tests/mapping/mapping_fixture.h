#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "config/app_config.h"
#include "config/button_config.h"
#include "config/event_map.h"
#include "emulation/emulator_library.h"
#include "emulation/sim_emulator.h"
#include "emulation/virtual_hid_bus.h"
#include "fakes/log_capture.h"
#include "fakes/test_clocks.h"
#include "hid/hid_manager.h"
#include "hid/hid_protocol.h"
#include "mapping/hid_panel_output.h"
#include "mapping/mapping_engine.h"
#include "mapping/session_link.h"
#include "sim/mobiflight_session.h"
#include "sim/simconnect_client.h"

// The button configuration and event map of the mapping suites: managed map
// controls (MAP_LEFT has a PFD text only), autopilot buttons, NOSE_UP with
// press, hold and release texts, NOSE_DN whose hold text is its press text,
// SOFTKEY_1 with a text per role, knobs HDG (with CW_FAST) and ALT, and
// GATE (id 60).
extern const char kMappingButtons[];
extern const char kMappingEvents[];

// Holds the thread that writes one chosen module command inside the
// emulator until open() is called: a test closes it on a command, lets a
// worker run into it, and so keeps that worker (and whatever queues up
// behind it) still for as long as it needs. While a writer is held the
// emulator's lock is held too: call nothing on the emulator until open().
class CommandGate {
public:
    void close(const std::string& command) {
        std::lock_guard<std::mutex> guard(mutex_);
        line_ = "command " + command;
        closed_ = true;
        blocked_ = false;
    }
    void open() {
        {
            std::lock_guard<std::mutex> guard(mutex_);
            closed_ = false;
        }
        changed_.notify_all();
    }
    bool waitBlocked() {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(10), [this] { return blocked_; });
    }
    // The emulator's trace sink.
    void onTrace(const std::string& line) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!closed_ || line != line_) return;
        blocked_ = true;
        changed_.notify_all();
        changed_.wait_for(lock, std::chrono::seconds(10), [this] { return !closed_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string line_;
    bool closed_ = false;
    bool blocked_ = false;
};

// The mapping engine wired to the real HID manager, MobiFlight session and
// SimConnect client as the Application wires them, on virtual panels and
// the simulator emulator. The engine runs on the system clock unless a test
// hands it `clock` (manual time); everything else runs on the system clock.
//
// Panels: "pfd" (board E6614103E7452D2F, device entry with role PFD) and
// "aux" (board C04A4E0000000009, no device entry).
class MappingTest : public ::testing::Test {
protected:
    struct Panel {
        std::string name;
        std::int32_t index = -1;
        emulation::VirtualPanel device;
    };

    static constexpr std::uint16_t kMapLeft = 1, kMapRight = 2, kMapUp = 3, kApMaster = 5,
                                   kApHdg = 7, kApAlt = 8, kNoseUp = 15, kNoseDown = 17,
                                   kNavSwap = 18, kHdg = 20, kAlt = 21, kSoftkey = 41, kGate = 60,
                                   kUnmapped = 99;

    MappingTest();
    void TearDown() override;

    // Starts the engine, then the HID manager (whose sink feeds the engine),
    // and waits for both panels.
    void startEngine(Clock& engineClock = Clock::system());
    // Starts the simulator link; with `waitReady` waits until MobiFlight
    // registration finished.
    void startLink(bool waitReady = true);

    static HidProtocol::HidEvent button(std::uint16_t id, std::int8_t value, std::uint8_t mode = 0);
    static HidProtocol::HidEvent encoder(std::uint16_t id, std::int8_t value, std::uint8_t speed,
                                         std::uint8_t mode = 0);
    void submit(const Panel& panel, const HidProtocol::HidEvent& event) {
        engine->submit(event, panel.name, panel.index);
    }
    // A text of the L-variable channel, as the MobiFlight client hands it on.
    void postLVarText(const std::string& text) {
        engine->post(engine_event::LVarValue{LVarPayload{false, 0.0, text}});
    }

    // Module commands "MF.SimVars.Set.1 " + rpn seen by the emulator.
    int countRpn(const std::string& rpn) const;
    bool waitRpn(const std::string& rpn, int times = 1) const;
    // The RPN texts written after registration, in order, without dummies.
    std::vector<std::string> rpnTexts() const;
    std::vector<std::string> transmittedEvents() const;

    // Dispatch trace lines ("HID event from ...").
    std::vector<std::string> traces() const;
    bool waitTraces(std::size_t count) const;

    // Keeps the engine thread still inside the write of the GATE control's
    // command: later panel events wait in the engine's inbox until
    // gate.open().
    void blockEngineInGate();

    // LED reports ("led_ctl") a panel received, as LedCommand bytes.
    static std::vector<LedCommand> ledReports(const Panel& panel);
    static bool waitLedReports(const Panel& panel, std::size_t count);

    LogCapture log;
    CommandGate gate;
    SimEmulator sim;
    EmulatorLibrary simLibrary{sim};
    SimConnectClient simConnect{simLibrary, Clock::system(), sim.processProbe()};
    emulation::VirtualHidBus bus;
    HidManager hid{bus};
    AppConfig config;
    ButtonConfig buttons;
    EventMap eventMap;
    std::unique_ptr<MobiFlightSession> session;  // the engine thread's
    std::unique_ptr<SessionLink> link;
    HidPanelOutput output{hid};
    ManualClock clock;  // for tests that run the engine on manual time
    std::unique_ptr<MappingEngine> engine;
    Panel pfd;
    Panel aux;
};
