// The simulator emulator behind its wire front, reached through the network
// client's SimConnect functions as the program calls them.

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>
#include <string>

#include "dispatch_helpers.h"
#include "fakes/log_capture.h"
#include "platform/stream_transport.h"
#include "simnet/codec.h"
#include "simnet/endpoint.h"
#include "simulator/emulator_front.h"

namespace {

using namespace simnet;
using namespace simconnect;
using namespace simnet_test;

const char kBattery[] = "ELECTRICAL MASTER BATTERY:2";

// The one exception among the messages.
SIMCONNECT_RECV_EXCEPTION onlyException(const Inbox& inbox) {
    SIMCONNECT_RECV_EXCEPTION exception{};
    const std::vector<Bytes> found = inbox.withId(SIMCONNECT_RECV_ID_EXCEPTION);
    EXPECT_EQ(found.size(), 1u);
    if (!found.empty() && found[0].size() == sizeof exception)
        std::memcpy(&exception, found[0].data(), sizeof exception);
    return exception;
}

class FrontTest : public ::testing::Test {
protected:
    FrontTest() {
        sim.setSimulatorRunning(true);
        sim.setBattery(true);
    }
    TargetedLibrary lib;

    void startFront(EmulatorFrontOptions options = {}) {
        front = std::make_unique<EmulatorFront>(sim, std::move(options));
        std::string error;
        ASSERT_TRUE(front->start(error)) << error;
        endpoint = Endpoint::tcp("127.0.0.1", front->port(), platform::IpFamily::V4);
    }
    HANDLE open(const char* name) {
        lib.setTarget(endpoint);
        HANDLE handle = nullptr;
        EXPECT_EQ(lib.open(&handle, name), S_OK_RESULT);
        return handle;
    }
    // A raw connection that sends `message` and reads what comes back until
    // the server ends it; false when it does not end it.
    bool rawExchange(const ClientMessage& message, Bytes& answer) {
        Bytes bytes;
        EXPECT_EQ(encodeClientMessage(message, bytes), CodecError::None);
        std::string error;
        auto raw = platform::connectTcp("127.0.0.1", front->port(), platform::IpFamily::V4,
                                        kPatience, error);
        if (!raw || !raw->sendAll(bytes.data(), bytes.size(), error)) return false;
        for (;;) {
            std::uint8_t chunk[512];
            std::size_t got = 0;
            const auto result = raw->receive(chunk, sizeof chunk, got, kPatience);
            if (result != platform::ByteStream::ReadResult::Data) {
                return result != platform::ByteStream::ReadResult::Timeout;
            }
            answer.insert(answer.end(), chunk, chunk + got);
        }
    }

    SimEmulator sim;
    std::unique_ptr<EmulatorFront> front;
    Endpoint endpoint;
};

// Two programs at once: each its own mappings, requests and send ids; an
// exception carries the send id of the message that caused it as its
// client numbered it (a refused call leaves a gap the emulator cannot
// know of), and reaches only that client.
TEST_F(FrontTest, TwoClientsEachHaveTheirOwnConnection) {
    startFront();
    HANDLE first = open("first");
    ASSERT_TRUE(eventually([&] { return sim.connectionCount() == 1; }));  // numbered in order
    HANDLE second = open("second");
    EXPECT_EQ(lib.mapClientEventToSimEvent(first, 1, "AP_MASTER"), S_OK_RESULT);
    EXPECT_EQ(lib.mapClientEventToSimEvent(second, 1, "AP_HDG_HOLD"), S_OK_RESULT);
    EXPECT_EQ(lib.mapClientEventToSimEvent(second, 2, std::string(256, 'N').c_str()),
              INSUFFICIENT_BUFFER_RESULT);
    EXPECT_EQ(lib.mapClientEventToSimEvent(second, 3, "NO_SUCH_EVENT_XYZ"), S_OK_RESULT);
    const DWORD unknownNameId = lastSendId(lib, second);
    EXPECT_EQ(unknownNameId, 4u);
    EXPECT_EQ(lib.transmitClientEvent(first, 0, 1, 0, 1, 0x10), S_OK_RESULT);
    EXPECT_EQ(lib.transmitClientEvent(second, 0, 1, 0, 1, 0x10), S_OK_RESULT);
    EXPECT_EQ(lib.transmitClientEvent(first, 0, 7, 0, 1, 0x10), S_OK_RESULT);
    const DWORD unmappedId = lastSendId(lib, first);
    EXPECT_EQ(lib.addToDataDefinition(first, 1, kBattery, "Bool", SIMCONNECT_DATATYPE_INT32, 0.0f,
                                      SIMCONNECT_UNUSED),
              S_OK_RESULT);
    EXPECT_EQ(lib.requestDataOnSimObject(first, 1, 1, 0, SIMCONNECT_PERIOD_SIM_FRAME, 1, 0, 0, 0),
              S_OK_RESULT);

    Inbox atFirst, atSecond;
    pump(lib, first, atFirst, 3);
    sim.setBattery(false);  // a change scripted on the emulator goes out on its own
    pump(lib, first, atFirst, 4);
    pump(lib, second, atSecond, 2);

    EXPECT_EQ(atFirst.withId(SIMCONNECT_RECV_ID_OPEN).size(), 1u);
    const auto unmapped = onlyException(atFirst);
    EXPECT_EQ(unmapped.dwException, static_cast<DWORD>(SIMCONNECT_EXCEPTION_UNRECOGNIZED_ID));
    EXPECT_EQ(unmapped.dwSendID, unmappedId);
    const auto battery = atFirst.withId(SIMCONNECT_RECV_ID_SIMOBJECT_DATA);
    ASSERT_EQ(battery.size(), 2u);
    EXPECT_EQ(battery[0][kRecvDataPayloadOffset], 1);
    EXPECT_EQ(battery[1][kRecvDataPayloadOffset], 0);
    EXPECT_EQ(atFirst.sizeMismatches, 0);

    ASSERT_EQ(atSecond.messages.size(), 2u)
        << "emulator connections " << sim.connectionCount() << ", open "
        << sim.openConnectionCount() << ", second client " << sim.clientName(2)
        << ", messages at the first " << atFirst.messages.size();
    const auto unknown = onlyException(atSecond);
    EXPECT_EQ(unknown.dwException, static_cast<DWORD>(SIMCONNECT_EXCEPTION_NAME_UNRECOGNIZED));
    EXPECT_EQ(unknown.dwSendID, unknownNameId);

    std::map<int, std::string> events;
    for (const auto& event : sim.transmittedEvents())
        events[event.connection] += event.name;
    EXPECT_EQ(events, (std::map<int, std::string>{{1, "AP_MASTER"}, {2, "AP_HDG_HOLD"}}));
    EXPECT_EQ(sim.clientName(2), "second");
    lib.close(first);
    lib.close(second);
    EXPECT_TRUE(eventually([&] { return sim.openConnectionCount() == 0; }));
}

// A client that comes back is a new connection without the old one's
// mappings; the simulator quitting sends QUIT and then ends the link; with
// the simulator gone, a new client's link ends before any RECV_OPEN.
// A system event and a system state answer over the wire, as the
// program's network client receives them.
TEST_F(FrontTest, SystemEventsAndStatesReachTheClient) {
    startFront();
    HANDLE h = open("CorvaneHID");
    EXPECT_EQ(lib.subscribeToSystemEvent(h, 1, "AircraftLoaded"), S_OK_RESULT);
    EXPECT_EQ(lib.requestSystemState(h, 11, "Sim"), S_OK_RESULT);
    Inbox inbox;
    pump(lib, h, inbox, 2);  // OPEN, the state
    const std::vector<Bytes> states = inbox.withId(SIMCONNECT_RECV_ID_SYSTEM_STATE);
    ASSERT_EQ(states.size(), 1u);
    SIMCONNECT_RECV_SYSTEM_STATE state{};
    ASSERT_EQ(states[0].size(), sizeof state);
    std::memcpy(&state, states[0].data(), sizeof state);
    EXPECT_EQ(state.dwRequestID, 11u);
    EXPECT_EQ(state.dwInteger, 1u);

    const char path[] = R"(SimObjects\Airplanes\Jet\aircraft.cfg)";
    sim.setAircraft({path, "Jet", "J1"});
    pump(lib, h, inbox, 3);
    const std::vector<Bytes> loaded = inbox.withId(SIMCONNECT_RECV_ID_EVENT_FILENAME);
    ASSERT_EQ(loaded.size(), 1u);
    SIMCONNECT_RECV_EVENT_FILENAME event{};
    ASSERT_EQ(loaded[0].size(), sizeof event);
    std::memcpy(&event, loaded[0].data(), sizeof event);
    EXPECT_EQ(event.uEventID, 1u);
    EXPECT_STREQ(event.szFileName, path);
    EXPECT_EQ(lib.close(h), S_OK_RESULT);
}

TEST_F(FrontTest, ReconnectAndTheSimulatorQuitting) {
    startFront();
    HANDLE handle = open("CorvaneHID");
    EXPECT_EQ(lib.mapClientEventToSimEvent(handle, 1, "AP_MASTER"), S_OK_RESULT);
    ASSERT_TRUE(eventually([&] { return sim.eventMappings().size() == 1; }));
    lib.close(handle);
    ASSERT_TRUE(eventually([&] { return sim.openConnectionCount() == 0; }));

    handle = open("CorvaneHID");
    EXPECT_EQ(lib.transmitClientEvent(handle, 0, 1, 0, 1, 0x10), S_OK_RESULT);
    Inbox inbox;
    pump(lib, handle, inbox, 2);
    EXPECT_EQ(onlyException(inbox).dwException,
              static_cast<DWORD>(SIMCONNECT_EXCEPTION_UNRECOGNIZED_ID));
    EXPECT_EQ(sim.connectionCount(), 2);

    sim.exitSimulator();
    EXPECT_EQ(pumpUntilFailure(lib, handle, inbox), LINK_FAILED_RESULT);
    EXPECT_EQ(inbox.withId(SIMCONNECT_RECV_ID_QUIT).size(), 1u);
    EXPECT_EQ(lib.transmitClientEvent(handle, 0, 1, 0, 1, 0x10), LINK_FAILED_RESULT);
    lib.close(handle);

    HANDLE late = open("CorvaneHID");
    Inbox nothing;
    EXPECT_EQ(pumpUntilFailure(lib, late, nothing), LINK_FAILED_RESULT);
    EXPECT_TRUE(nothing.messages.empty());
    EXPECT_EQ(sim.connectionCount(), 2);
    lib.close(late);
}

TEST_F(FrontTest, TheServerVanishingEndsEveryLinkAndConnection) {
    startFront();
    HANDLE first = open("first");
    HANDLE second = open("second");
    ASSERT_TRUE(eventually([&] { return sim.openConnectionCount() == 2; }));
    front->stop();
    front->stop();
    EXPECT_EQ(sim.openConnectionCount(), 0);
    Inbox inbox;
    EXPECT_EQ(pumpUntilFailure(lib, first, inbox), LINK_FAILED_RESULT);
    EXPECT_EQ(pumpUntilFailure(lib, second, inbox), LINK_FAILED_RESULT);
    EXPECT_EQ(lib.transmitClientEvent(first, 0, 1, 0, 1, 0x10), LINK_FAILED_RESULT);
    lib.close(first);
    lib.close(second);
}

// Clients that break the rules are closed with a warning; the one that
// keeps them is served on.
TEST_F(FrontTest, RuleBreakersAreClosedWhileOthersGoOn) {
    LogCapture logs;
    EmulatorFrontOptions options;
    options.maxEntriesPerClient = 8;
    startFront(options);
    HANDLE good = open("good");
    ASSERT_TRUE(eventually([&] { return sim.connectionCount() == 1; }));

    Bytes answer;
    EXPECT_TRUE(
        rawExchange({kProtocolVersion, 1, TransmitClientEventCall{0, 1, 0, 1, 0x10}}, answer));
    EXPECT_TRUE(answer.empty());
    EXPECT_TRUE(logs.waitFor("closed: called TransmitClientEvent before its Open"));

    OpenCall newer;
    newer.name = "newer";
    ASSERT_TRUE(rawExchange({6, 1, newer}, answer));
    ServerMessage exception;
    ASSERT_EQ(decodeServerMessage(answer.data(), answer.size(), exception), CodecError::None);
    ASSERT_TRUE(std::holds_alternative<RecvException>(exception.body));
    EXPECT_EQ(std::get<RecvException>(exception.body).exception,
              static_cast<std::uint32_t>(SIMCONNECT_EXCEPTION_VERSION_MISMATCH));
    EXPECT_EQ(std::get<RecvException>(exception.body).sendId, 1u);

    HANDLE greedy = open("greedy");
    for (DWORD i = 0; i < 9; ++i) {
        lib.addToDataDefinition(greedy, i, kBattery, "Bool", SIMCONNECT_DATATYPE_INT32, 0.0f,
                                SIMCONNECT_UNUSED);
    }
    Inbox inbox;
    EXPECT_EQ(pumpUntilFailure(lib, greedy, inbox), LINK_FAILED_RESULT);
    EXPECT_TRUE(logs.waitFor("holds more than 8 definitions, mappings and requests"));
    lib.close(greedy);

    EXPECT_EQ(lib.mapClientEventToSimEvent(good, 1, "AP_MASTER"), S_OK_RESULT);
    for (int i = 0; i < 20; ++i)  // a repeated id is no new entry
        EXPECT_EQ(lib.requestDataOnSimObject(good, 1, 1, 0, SIMCONNECT_PERIOD_NEVER, 0, 0, 0, 0),
                  S_OK_RESULT);
    EXPECT_EQ(lib.transmitClientEvent(good, 0, 1, 0, 1, 0x10), S_OK_RESULT);
    EXPECT_TRUE(eventually([&] { return sim.transmittedEvents().size() == 1; }));
    EXPECT_EQ(pump(lib, good, inbox, 0), S_OK_RESULT);
    EXPECT_EQ(sim.clientName(1), "good");
    EXPECT_EQ(sim.connectionCount(), 2);  // newer was never opened
    lib.close(good);
}

// A few KiB of requests must not make the server hold and send hundreds of
// MiB: a definition stops at 8 KiB, and a client whose requests could
// together cost more than its byte budget is closed.
TEST_F(FrontTest, BigAsksAreRefusedBeforeTheyCostMemory) {
    LogCapture logs;
    startFront();
    HANDLE client = open("client");
    const DWORD area = 7, definition = 1;
    ASSERT_EQ(lib.mapClientDataNameToId(client, "Area", area), S_OK_RESULT);
    ASSERT_EQ(lib.createClientData(client, area, SIMCONNECT_CLIENTDATA_MAX_SIZE, 0), S_OK_RESULT);
    ASSERT_EQ(lib.addToClientDataDefinition(client, definition, 0, SIMCONNECT_CLIENTDATA_MAX_SIZE,
                                            0.0f, SIMCONNECT_UNUSED),
              S_OK_RESULT);
    // The library sends one byte more; the server refuses it.
    EXPECT_EQ(lib.addToClientDataDefinition(client, definition, 0, 1, 0.0f, SIMCONNECT_UNUSED),
              S_OK_RESULT);
    Inbox inbox;
    ASSERT_TRUE(eventually([&] {
        pump(lib, client, inbox, 0);
        return !inbox.withId(SIMCONNECT_RECV_ID_EXCEPTION).empty();
    }));
    EXPECT_EQ(onlyException(inbox).dwException,
              static_cast<DWORD>(SIMCONNECT_EXCEPTION_INVALID_DATA_SIZE));

    // Each request may answer 8 KiB; 4 MiB of them is the bound.
    for (DWORD request = 0; request < 600; ++request) {
        lib.requestClientData(client, area, request, definition,
                              SIMCONNECT_CLIENT_DATA_PERIOD_NEVER, 0, 0, 0, 0);
    }
    EXPECT_EQ(pumpUntilFailure(lib, client, inbox), LINK_FAILED_RESULT);
    EXPECT_TRUE(logs.waitFor("or 4096 KiB of them")) << logs.dump();
    lib.close(client);
}

// The simulator's pipe transport (Windows): the same front serves it.
TEST_F(FrontTest, ThePipeIsServedToo) {
    if (!platform::localPipesAvailable()) GTEST_SKIP() << "no named pipes on this system";
    EmulatorFrontOptions options;
    options.server.listenTcp = false;
    options.server.pipeName =
        std::string(R"(\\.\pipe\CorvaneHID front )") + std::to_string(std::random_device()());
    startFront(options);
    endpoint = Endpoint::pipe(options.server.pipeName);
    HANDLE handle = open("piped");
    EXPECT_EQ(lib.mapClientEventToSimEvent(handle, 1, "AP_MASTER"), S_OK_RESULT);
    EXPECT_EQ(lib.transmitClientEvent(handle, 0, 1, 0, 1, 0x10), S_OK_RESULT);
    Inbox inbox;
    pump(lib, handle, inbox, 1);
    EXPECT_EQ(inbox.withId(SIMCONNECT_RECV_ID_OPEN).size(), 1u);
    EXPECT_TRUE(eventually([&] { return sim.transmittedEvents().size() == 1; }));
    sim.exitSimulator();
    EXPECT_EQ(pumpUntilFailure(lib, handle, inbox), LINK_FAILED_RESULT);
    EXPECT_EQ(inbox.withId(SIMCONNECT_RECV_ID_QUIT).size(), 1u);
    lib.close(handle);
}

}  // namespace
