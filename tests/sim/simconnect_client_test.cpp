#include "sim/simconnect_client.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>
#include <vector>

#include "emulation/emulator_library.h"
#include "emulation/sim_emulator.h"
#include "fakes/log_capture.h"
#include "fakes/test_clocks.h"
#include "sim/simconnect_api.h"

using namespace std::chrono;
using simconnect::E_FAIL_RESULT;
using simconnect::E_INVALIDARG_RESULT;
using simconnect::PIPE_DISCONNECTED_RESULT;

namespace {

bool waitFor(const std::function<bool()>& condition, milliseconds timeout = milliseconds(5000)) {
    return SimEmulator::waitUntil(condition, timeout);
}

// The client against the emulator, on a clock whose waits take no real time.
class SimConnectClientTest : public ::testing::Test {
protected:
    void TearDown() override { client.stop(); }

    void start(std::function<bool()> panelsPresent = {}) {
        std::string error;
        ASSERT_TRUE(client.start(
            "CorvaneHID", [this](bool connected) { (connected ? connects : disconnects)++; },
            std::move(panelsPresent), error))
            << error;
    }

    void startConnected() {
        sim.setSimulatorRunning(true);
        start();
        ASSERT_TRUE(waitFor([&] { return client.isConnected(); }));
    }

    LogCapture log;
    ManualClock clock{ManualClock::Mode::Step};
    SimEmulator sim{clock};
    EmulatorLibrary library{sim};
    SimConnectClient client{library, clock, sim.processProbe()};
    std::atomic<int> connects{0};
    std::atomic<int> disconnects{0};
};

TEST(SimConnectResultTextTest, IsUpperCaseHexWithoutLeadingZeros) {
    EXPECT_EQ(SimConnectClient::formatResult(E_FAIL_RESULT), "0x80004005");
    EXPECT_EQ(SimConnectClient::formatResult(PIPE_DISCONNECTED_RESULT), "0xC00000B0");
    EXPECT_EQ(SimConnectClient::formatResult(0x0000ABCD), "0xABCD");
    EXPECT_EQ(SimConnectClient::formatResult(0), "0x0");
}

TEST_F(SimConnectClientTest, StartTwiceFailsAndStopIsIdempotent) {
    start();
    std::string error;
    EXPECT_FALSE(client.start("CorvaneHID", {}, {}, error));
    EXPECT_EQ(error, "SimConnect client already running");
    client.stop();
    client.stop();
    // Restartable after a stop.
    EXPECT_TRUE(client.start("", {}, {}, error)) << error;
    sim.setSimulatorRunning(true);
    ASSERT_TRUE(waitFor([&] { return client.isConnected(); }));
    EXPECT_EQ(sim.clientName(1), "CorvaneHID");  // empty name means the default
}

TEST_F(SimConnectClientTest, OpenFailuresBackOffFiveTenTwentyThirtyThirtySeconds) {
    sim.setSimulatorRunning(true);
    sim.setOpenResult(E_FAIL_RESULT);
    start();
    ASSERT_TRUE(waitFor([&] { return clock.waitsOfAtLeast(seconds(1)).size() >= 6; }));
    const auto waits = clock.waitsOfAtLeast(seconds(1));
    const std::vector<Clock::Duration> expected{seconds(5),  seconds(10), seconds(20),
                                                seconds(30), seconds(30), seconds(30)};
    EXPECT_EQ(std::vector<Clock::Duration>(waits.begin(), waits.begin() + 6), expected);
    EXPECT_GE(log.count("Waiting for SimConnect connection: SimConnect_Open failed (0x80004005)"),
              5);
    EXPECT_EQ(log.count("Flight simulator process detected"), 0);  // it was never missing

    // A connection that lasted 10 s resets the delay: the next failure waits 5 s again.
    sim.setOpenResult(0);
    ASSERT_TRUE(waitFor([&] { return client.isConnected(); }));
    const std::size_t before = clock.waitsOfAtLeast(seconds(1)).size();
    clock.advance(seconds(10));
    sim.setOpenResult(E_FAIL_RESULT);
    sim.breakConnections();
    ASSERT_TRUE(waitFor([&] { return clock.waitsOfAtLeast(seconds(1)).size() >= before + 2; }));
    EXPECT_EQ(clock.waitsOfAtLeast(seconds(1))[before], seconds(5));
    EXPECT_EQ(clock.waitsOfAtLeast(seconds(1))[before + 1], seconds(10));
}

// A simulator that crashes at once while its process lingers: each
// connection breaks right after opening, and each is followed by the next
// back-off step instead of an immediate reopen.
TEST_F(SimConnectClientTest, ConnectionsEndingWithinTenSecondsKeepBackingOff) {
    sim.setBreakAfterOpen(simconnect::LINK_FAILED_RESULT);
    startConnected();
    ASSERT_TRUE(waitFor([&] { return clock.waitsOfAtLeast(seconds(1)).size() >= 5; }));
    const auto waits = clock.waitsOfAtLeast(seconds(1));
    const std::vector<Clock::Duration> expected{seconds(5), seconds(10), seconds(20), seconds(30),
                                                seconds(30)};
    EXPECT_EQ(std::vector<Clock::Duration>(waits.begin(), waits.begin() + 5), expected);
    EXPECT_LE(sim.connectionCount(), static_cast<int>(clock.waitsOfAtLeast(seconds(1)).size()) + 1);
    EXPECT_TRUE(log.contains("SimConnect disconnected: dispatch error 0xC000013E"));
}

TEST_F(SimConnectClientTest, AnOpenWithoutAnswerFailsAfterTenSeconds) {
    sim.setAnswersOpen(false);
    sim.setSimulatorRunning(true);
    start();
    ASSERT_TRUE(waitFor([&] { return sim.connectionCount() == 1; }));
    EXPECT_TRUE(log.waitFor("SimConnect connecting"));
    EXPECT_FALSE(client.isConnected());  // not usable before the simulator answers
    EXPECT_FALSE(log.contains("SimConnect connected"));
    std::string error;
    EXPECT_FALSE(client.transmitEvent("AP_MASTER", error));
    sim.setAnswersOpen(true);  // for the next open
    clock.advance(seconds(10));
    ASSERT_TRUE(
        log.waitFor("Waiting for SimConnect connection: no answer from the simulator within 10 s"));
    ASSERT_TRUE(waitFor([&] { return client.isConnected(); }));
    EXPECT_EQ(sim.connectionCount(), 2);
    EXPECT_TRUE(log.waitFor("SimConnect connected"));
    EXPECT_EQ(log.count("SimConnect connected"), 1);
    EXPECT_EQ(clock.waitsOfAtLeast(seconds(1)).at(0), seconds(5));
    EXPECT_EQ(connects.load(), 1);
    EXPECT_EQ(disconnects.load(), 0);
    EXPECT_FALSE(log.contains("SimConnect disconnected"));
}

TEST_F(SimConnectClientTest, ASimulatorProcessGoneWithoutQuitIsADisconnect) {
    std::atomic<int> exits{0};
    client.setExitHandler([&] { ++exits; });
    startConnected();
    sim.vanishSilently();
    clock.advance(seconds(3));
    ASSERT_TRUE(waitFor([&] { return exits.load() == 1; }));
    EXPECT_TRUE(log.contains("SimConnect disconnected: simulator process ended"));
    EXPECT_EQ(disconnects.load(), 1);
    EXPECT_EQ(sim.openConnectionCount(), 0);
}

std::vector<std::uint8_t> exceptionMessage(std::uint32_t exception, std::uint32_t sendId) {
    const std::uint32_t fields[6] = {24,        4,      simconnect::SIMCONNECT_RECV_ID_EXCEPTION,
                                     exception, sendId, simconnect::SIMCONNECT_UNUSED};
    std::vector<std::uint8_t> bytes(sizeof(fields));
    std::memcpy(bytes.data(), fields, sizeof(fields));
    return bytes;
}

TEST_F(SimConnectClientTest, ServerExceptionsAreLoggedOncePerCaseWithTheirCall) {
    startConnected();
    std::string error;
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(client.transmitEvent("AP_FLC", error)) << error;  // queued: S_OK
    ASSERT_TRUE(client.mapClientDataName("Test.Area", 7, error));
    ASSERT_TRUE(client.addClientDataDefinition(7, 16, error));
    sim.createClientData("Test.Area", 64);
    std::uint8_t block[SimConnectClient::kCommandBlockSize] = {};
    ASSERT_TRUE(client.setClientData(7, 7, block, error));  // 1024 bytes, 16 defined
    ASSERT_TRUE(client.setClientData(7, 7, block, error));
    ASSERT_TRUE(client.setClientData(7, 7, block, error, SimConnectClient::ServerErrors::Quiet));
    sim.queueMessage(exceptionMessage(simconnect::SIMCONNECT_EXCEPTION_ERROR, 9999));
    ASSERT_TRUE(log.waitFor("for an unknown call (send id 9999)"));

    sim.breakConnections();  // the same cases on the next connection stay reported
    ASSERT_TRUE(waitFor([&] { return sim.connectionCount() == 2 && client.isConnected(); }));
    EXPECT_TRUE(client.transmitEvent("AP_FLC", error)) << error;
    sim.queueMessage(exceptionMessage(simconnect::SIMCONNECT_EXCEPTION_ERROR, 9998));
    const std::size_t pumps = clock.waits().size();
    ASSERT_TRUE(waitFor([&] { return clock.waits().size() > pumps + 10; }));
    EXPECT_EQ(log.messages("WARN"),
              (std::vector<std::string>{
                  "SimConnect exception NAME_UNRECOGNIZED for "
                  "SimConnect_MapClientEventToSimEvent(AP_FLC)",
                  "SimConnect exception SIZE_MISMATCH for SimConnect_SetClientData(Test.Area)",
                  "SimConnect exception ERROR for an unknown call (send id 9999)",
                  "SimConnect disconnected: dispatch error 0xC00000B0"}));
    EXPECT_EQ(
        log.count("SimConnect exception SIZE_MISMATCH for SimConnect_SetClientData(Test.Area)"),
        2);  // and once more at debug level, for the quiet call
}

// A handler that throws inside the library's dispatch: the exception stays
// on our side of the library and the worker handles it like its own.
TEST_F(SimConnectClientTest, AnExceptionFromAHandlerNeverCrossesTheDispatch) {
    std::atomic<int> batteries{0};
    client.setBatteryHandler([&](bool on) {
        ++batteries;
        if (!on) throw std::runtime_error("battery handler exploded");
    });
    sim.setBattery(true);
    startConnected();
    ASSERT_TRUE(waitFor([&] { return batteries.load() == 1; }));
    sim.setBattery(false);
    ASSERT_TRUE(log.waitFor("SimConnect worker exception: battery handler exploded"));
    sim.setBattery(true);
    ASSERT_TRUE(waitFor([&] { return sim.connectionCount() >= 2 && client.isConnected(); }));
    EXPECT_TRUE(log.contains("SimConnect disconnected: worker exception"));
    EXPECT_GE(batteries.load(), 2);
}

TEST_F(SimConnectClientTest, WaitNoticesAreLoggedOnceAndAgainOnlyAfterAPanelWait) {
    std::atomic<bool> panels{false};
    start([&] { return panels.load(); });
    ASSERT_TRUE(waitFor([&] { return clock.waits().size() >= 20; }));
    EXPECT_EQ(log.count("Waiting for HID device to connect"), 1);
    EXPECT_EQ(log.count("Waiting for flight simulator process to start"), 0);

    panels = true;
    ASSERT_TRUE(log.waitFor("Waiting for flight simulator process to start"));
    const std::size_t passes = clock.waits().size();
    ASSERT_TRUE(waitFor([&] { return clock.waits().size() >= passes + 10; }));
    EXPECT_EQ(log.count("HID device detected"), 1);
    EXPECT_EQ(log.count("Waiting for flight simulator process to start"), 1);
    for (const auto d : clock.waitsOfAtLeast(seconds(2)))
        EXPECT_EQ(d, seconds(5));

    panels = false;  // a panel wait in between: the simulator notice comes again
    ASSERT_TRUE(waitFor([&] { return log.count("Waiting for HID device to connect") == 2; }));
    panels = true;
    ASSERT_TRUE(
        waitFor([&] { return log.count("Waiting for flight simulator process to start") == 2; }));

    sim.setSimulatorRunning(true);
    ASSERT_TRUE(waitFor([&] { return client.isConnected(); }));
    EXPECT_TRUE(log.waitFor("SimConnect session opened"));
    EXPECT_EQ(log.count("Flight simulator process detected"), 1);
    EXPECT_EQ(log.count("SimConnect connected"), 1);
    EXPECT_EQ(connects.load(), 1);
}

TEST_F(SimConnectClientTest, StopReturnsPromptlyFromALongBackOffOnTheRealClock) {
    SimConnectClient real(library, Clock::system(), sim.processProbe());
    sim.setSimulatorRunning(true);
    sim.setOpenResult(E_FAIL_RESULT);
    std::string error;
    ASSERT_TRUE(real.start("CorvaneHID", {}, {}, error));
    ASSERT_TRUE(log.waitFor("Waiting for SimConnect connection"));
    const auto begin = steady_clock::now();
    real.stop();
    EXPECT_LT(steady_clock::now() - begin, milliseconds(1000));
}

TEST_F(SimConnectClientTest, WorkerExceptionsAreLoggedAndBackedOffLikeFailedConnects) {
    std::atomic<int> probes{0};
    SimConnectClient throwing(library, clock, [&]() -> bool {
        if (probes++ < 2) throw std::runtime_error("probe exploded");
        return true;
    });
    sim.setSimulatorRunning(true);
    std::string error;
    ASSERT_TRUE(throwing.start("CorvaneHID", {}, {}, error));
    ASSERT_TRUE(waitFor([&] { return throwing.isConnected(); }));
    throwing.stop();
    EXPECT_EQ(log.count("SimConnect worker exception: probe exploded"), 2);
    const auto waits = clock.waitsOfAtLeast(seconds(1));
    ASSERT_GE(waits.size(), 2u);
    EXPECT_EQ(waits[0], seconds(5));
    EXPECT_EQ(waits[1], seconds(10));
}

TEST_F(SimConnectClientTest, QuitDisconnectsAndRequestsExitOnce) {
    std::atomic<int> exits{0};
    client.setExitHandler([&] { ++exits; });
    startConnected();
    sim.exitSimulator();
    ASSERT_TRUE(waitFor([&] { return exits.load() == 1; }));
    EXPECT_TRUE(log.contains("SimConnect disconnected: SimConnect quit"));
    EXPECT_TRUE(log.contains("Simulator closed; requesting application shutdown"));
    EXPECT_EQ(disconnects.load(), 1);
    EXPECT_FALSE(client.isConnected());
    // The process is gone too, which would ask again: it must not.
    const std::size_t passes = clock.waits().size();
    ASSERT_TRUE(waitFor([&] { return clock.waits().size() >= passes + 5; }));
    EXPECT_EQ(exits.load(), 1);
    EXPECT_EQ(log.count("Simulator closed; requesting application shutdown"), 1);
}

// A simulator on another machine: no process to wait for, a failed open
// warned about once per reason, and its quit only a disconnect.
TEST_F(SimConnectClientTest, ASimulatorElsewhereIsTriedWithoutProcessAndOutlivesItsQuit) {
    std::atomic<int> exits{0};
    client.setExitHandler([&] { ++exits; });
    client.setSimulatorPolicy({false, false});
    const std::string refused = "Waiting for SimConnect connection: SimConnect_Open failed";
    start();
    ASSERT_TRUE(waitFor([&] { return clock.waitsOfAtLeast(seconds(1)).size() >= 3; }));
    EXPECT_EQ(clock.waitsOfAtLeast(seconds(1)).at(1), seconds(10));  // the same back-off
    EXPECT_EQ(log.messages("WARN").size(), 1u) << log.dump();
    EXPECT_GE(log.count(refused), 3);  // the repeats as debug lines
    EXPECT_FALSE(log.contains("Waiting for flight simulator process to start"));

    sim.setSimulatorRunning(true);
    ASSERT_TRUE(waitFor([&] { return client.isConnected(); }));
    sim.exitSimulator();  // the simulator is gone until started again
    ASSERT_TRUE(log.waitFor("Simulator closed; the program keeps running"));
    const auto refusedBeforeQuit = log.count(refused);
    ASSERT_TRUE(waitFor([&] { return log.count(refused) > refusedBeforeQuit; }));
    sim.setSimulatorRunning(true);
    ASSERT_TRUE(waitFor([&] { return connects.load() == 2; }));
    EXPECT_EQ(exits.load(), 0);
    EXPECT_TRUE(log.contains("SimConnect disconnected: SimConnect quit"));
    EXPECT_EQ(log.messages("WARN").size(), 3u) << log.dump();  // a new warning after the quit
}

// Here too the program may be told to stay: the simulator's end (its quit,
// then its process gone for many passes) is reported once and ends nothing.
TEST_F(SimConnectClientTest, ALocalSimulatorsEndCanLeaveTheProgramRunning) {
    std::atomic<int> exits{0};
    client.setExitHandler([&] { ++exits; });
    client.setSimulatorPolicy({true, false});
    startConnected();
    sim.exitSimulator();
    ASSERT_TRUE(log.waitFor("Waiting for flight simulator process to start"));
    const std::size_t passes = clock.waits().size();
    ASSERT_TRUE(waitFor([&] { return clock.waits().size() >= passes + 5; }));
    EXPECT_EQ(exits.load(), 0);
    EXPECT_EQ(log.count("Simulator closed; the program keeps running"), 1);
    sim.setSimulatorRunning(true);
    ASSERT_TRUE(waitFor([&] { return connects.load() == 2; }));
}

TEST_F(SimConnectClientTest, ExitIsRequestedOnlyAfterAFirstConnection) {
    std::atomic<int> exits{0};
    client.setExitHandler([&] { ++exits; });
    sim.setSimulatorRunning(true);
    sim.setOpenResult(E_FAIL_RESULT);
    start();
    ASSERT_TRUE(log.waitFor("Waiting for SimConnect connection"));
    sim.setSimulatorRunning(false);
    ASSERT_TRUE(log.waitFor("Waiting for flight simulator process to start"));
    const std::size_t passes = clock.waits().size();
    ASSERT_TRUE(waitFor([&] { return clock.waits().size() >= passes + 5; }));
    EXPECT_EQ(exits.load(), 0);

    // Connected once, then the link breaks and the process is gone: exit.
    sim.setOpenResult(0);
    sim.setSimulatorRunning(true);
    ASSERT_TRUE(waitFor([&] { return client.isConnected(); }));
    sim.setSimulatorRunning(false);
    sim.breakConnections();
    ASSERT_TRUE(waitFor([&] { return exits.load() == 1; }));
    EXPECT_TRUE(log.contains("SimConnect disconnected: dispatch error 0xC00000B0"));
}

TEST_F(SimConnectClientTest, EventNamesMapOncePerConnectionWithIdsFromOne) {
    startConnected();
    std::string error;
    ASSERT_TRUE(client.transmitEvent("AP_MASTER", error)) << error;
    ASSERT_TRUE(client.transmitEvent("AP_MASTER", error)) << error;
    ASSERT_TRUE(client.transmitEvent("HEADING_BUG_INC", error)) << error;
    auto mappings = sim.eventMappings();
    ASSERT_EQ(mappings.size(), 2u);
    EXPECT_EQ(mappings[0].eventId, 1u);
    EXPECT_EQ(mappings[0].name, "AP_MASTER");
    EXPECT_EQ(mappings[1].eventId, 2u);
    const auto events = sim.transmittedEvents();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[1].name, "AP_MASTER");
    EXPECT_EQ(events[1].data, 0u);
    EXPECT_EQ(events[1].groupId, simconnect::SIMCONNECT_GROUP_PRIORITY_HIGHEST);
    EXPECT_EQ(events[1].flags, simconnect::SIMCONNECT_EVENT_FLAG_GROUPID_IS_PRIORITY);

    sim.breakConnections();
    ASSERT_TRUE(waitFor([&] { return sim.connectionCount() == 2 && client.isConnected(); }));
    ASSERT_TRUE(client.transmitEvent("HEADING_BUG_INC", error)) << error;
    mappings = sim.eventMappings();
    ASSERT_EQ(mappings.size(), 3u);
    EXPECT_EQ(mappings[2].connection, 2);
    EXPECT_EQ(mappings[2].eventId, 1u);
    EXPECT_TRUE(sim.serverExceptions().empty());
}

TEST_F(SimConnectClientTest, FailedCallsGiveExactTextsAndKeepTheConnection) {
    std::string error;
    EXPECT_FALSE(client.transmitEvent("AP_MASTER", error));
    EXPECT_EQ(error, "SimConnect is not connected");
    std::uint8_t block[256] = {};
    EXPECT_FALSE(client.setClientData(1, 1, block, error));
    EXPECT_EQ(error, "SimConnect is not connected");
    EXPECT_FALSE(client.transmitEvent("", error));
    EXPECT_EQ(error, "SimConnect event name is empty");

    startConnected();
    sim.failCalls("SimConnect_MapClientEventToSimEvent", E_FAIL_RESULT, 1);
    EXPECT_FALSE(client.transmitEvent("AP_MASTER", error));
    EXPECT_EQ(error, "SimConnect_MapClientEventToSimEvent failed (0x80004005)");
    ASSERT_TRUE(client.transmitEvent("AP_MASTER", error)) << error;
    EXPECT_EQ(sim.eventMappings().at(0).eventId, 2u);  // the failed id stays used

    sim.failCalls("SimConnect_TransmitClientEvent", E_INVALIDARG_RESULT, 1);
    EXPECT_FALSE(client.transmitEvent("AP_MASTER", error));
    EXPECT_EQ(error, "SimConnect_TransmitClientEvent failed (0x80070057)");

    const std::vector<std::pair<std::string, std::function<bool()>>> calls{
        {"SimConnect_MapClientDataNameToID",
         [&] { return client.mapClientDataName("A", 7, error); }},
        {"SimConnect_AddToClientDataDefinition",
         [&] { return client.addClientDataDefinition(7, 256, error); }},
        {"SimConnect_RequestClientData", [&] { return client.requestClientData(7, 8, 7, error); }},
        {"SimConnect_SetClientData", [&] { return client.setClientData(7, 7, block, error); }},
    };
    for (const auto& [function, call] : calls) {
        sim.failCalls(function, static_cast<std::int32_t>(0x80000001u), 1);
        EXPECT_FALSE(call()) << function;
        EXPECT_EQ(error, function + " failed (0x80000001)");
        EXPECT_TRUE(call()) << function << ": " << error;
    }
    EXPECT_TRUE(client.isConnected());
    EXPECT_EQ(sim.connectionCount(), 1);
    EXPECT_EQ(disconnects.load(), 0);
}

TEST_F(SimConnectClientTest, BatteryStateIsReportedOnConnectAndOnChange) {
    std::mutex mutex;
    std::vector<bool> states;
    client.setBatteryHandler([&](bool on) {
        std::lock_guard<std::mutex> guard(mutex);
        states.push_back(on);
    });
    auto count = [&] {
        std::lock_guard<std::mutex> guard(mutex);
        return states.size();
    };
    sim.setBattery(true);
    startConnected();
    ASSERT_TRUE(waitFor([&] { return count() == 1; }));
    sim.setBattery(true);  // unchanged: nothing new
    sim.setBattery(false);
    ASSERT_TRUE(waitFor([&] { return count() == 2; }));
    sim.setSimVar("electrical master battery:2", 5);  // non-zero is on
    ASSERT_TRUE(waitFor([&] { return count() == 3; }));
    std::lock_guard<std::mutex> guard(mutex);
    EXPECT_EQ(states, (std::vector<bool>{true, false, true}));
}

TEST_F(SimConnectClientTest, DataDefinitionFailureIsLoggedButConnects) {
    sim.failCalls("SimConnect_AddToDataDefinition", E_FAIL_RESULT, 1);
    startConnected();
    EXPECT_TRUE(log.contains(
        "SimConnect data definitions failed: SimConnect_AddToDataDefinition failed (0x80004005)"));
    EXPECT_FALSE(log.contains("SimConnect data request failed"));
    client.stop();
    sim.failCalls("SimConnect_RequestDataOnSimObject", E_FAIL_RESULT, 1);
    std::string error;
    ASSERT_TRUE(client.start("CorvaneHID", {}, {}, error));
    ASSERT_TRUE(waitFor([&] { return client.isConnected(); }));
    EXPECT_TRUE(log.contains(
        "SimConnect data request failed: SimConnect_RequestDataOnSimObject failed (0x80004005)"));
    EXPECT_TRUE(log.contains("SimConnect disconnected: shutdown"));
}

std::vector<std::uint8_t> clientDataMessage(std::uint32_t requestId, std::size_t size) {
    std::vector<std::uint8_t> bytes(size, 0x5A);
    const std::uint32_t header[4] = {static_cast<std::uint32_t>(size), 4,
                                     simconnect::SIMCONNECT_RECV_ID_CLIENT_DATA, requestId};
    std::memcpy(bytes.data(), header, std::min(size, sizeof(header)));
    return bytes;
}

TEST_F(SimConnectClientTest, ClientDataPayloadStartsFortyBytesInAndMalformedMessagesAreIgnored) {
    std::mutex mutex;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> seen;  // request id, size
    client.setClientDataHandler(
        [&](std::uint32_t id, const std::uint8_t* data, std::uint32_t size) {
            std::lock_guard<std::mutex> guard(mutex);
            EXPECT_EQ(data[0], 0x5A);
            seen.emplace_back(id, size);
        });
    startConnected();
    sim.queueMessage(clientDataMessage(77, 40));  // no payload: nothing
    sim.queueMessage(clientDataMessage(77, 12));  // truncated
    sim.queueMessage({1, 2, 3});                  // not even a header
    auto lying = clientDataMessage(78, 48);
    const std::uint32_t claimed = 4096;  // claims more than was delivered
    std::memcpy(lying.data(), &claimed, 4);
    sim.queueMessage(lying);
    sim.queueMessage(clientDataMessage(79, 41));
    ASSERT_TRUE(waitFor([&] {
        std::lock_guard<std::mutex> guard(mutex);
        return seen.size() == 2;
    }));
    std::lock_guard<std::mutex> guard(mutex);
    EXPECT_EQ(seen[0], std::make_pair(78u, 8u));
    EXPECT_EQ(seen[1], std::make_pair(79u, 1u));
    EXPECT_TRUE(client.isConnected());
}

// Many threads use the connection while it breaks and reopens: no call may
// ever reach the library with a handle that was already closed.
TEST_F(SimConnectClientTest, CallsNeverUseAClosedHandle) {
    startConnected();
    std::atomic<bool> done{false};
    std::vector<std::thread> callers;
    for (int t = 0; t < 4; ++t) {
        callers.emplace_back([&, t] {
            std::uint8_t block[256] = {};
            std::string error;
            while (!done) {
                client.transmitEvent("EVENT_" + std::to_string(t), error);
                client.setClientData(1, 1, block, error);
                client.mapClientDataName("Area", 1, error);
                std::this_thread::sleep_for(microseconds(50));
            }
        });
    }
    for (int round = 0; round < 15; ++round) {
        const int before = sim.connectionCount();
        sim.breakConnections();
        ASSERT_TRUE(
            waitFor([&] { return sim.connectionCount() > before && client.isConnected(); }));
    }
    done = true;
    for (auto& caller : callers)
        caller.join();
    client.stop();
    EXPECT_EQ(sim.callsOnClosedHandles(), 0);
    EXPECT_EQ(sim.openConnectionCount(), 0);
    EXPECT_EQ(connects.load(), 16);
    EXPECT_EQ(disconnects.load(), 16);
}

}  // namespace
