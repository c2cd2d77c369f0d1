#include "emulation/sim_emulator.h"
#include "emulation/emulator_library.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "fakes/test_clocks.h"
#include "sim/simconnect_api.h"

using namespace simconnect;

namespace {

// Collects what a dispatch delivers.
struct Inbox {
    std::vector<std::vector<std::uint8_t>> messages;

    static void SIMCONNECT_CALL proc(SIMCONNECT_RECV* message, DWORD size, void* context) {
        auto* bytes = reinterpret_cast<const std::uint8_t*>(message);
        static_cast<Inbox*>(context)->messages.emplace_back(bytes, bytes + size);
    }
    std::vector<DWORD> ids() const {
        std::vector<DWORD> result;
        for (const auto& m : messages)
            result.push_back(reinterpret_cast<const SIMCONNECT_RECV*>(m.data())->dwID);
        return result;
    }
    std::string payloadText(std::size_t i) const {
        const auto& m = messages.at(i);
        return std::string(reinterpret_cast<const char*>(m.data() + kRecvDataPayloadOffset));
    }
};

class SimEmulatorTest : public ::testing::Test {
protected:
    HANDLE openConnection() {
        HANDLE handle = nullptr;
        EXPECT_EQ(lib.open(&handle, "Probe"), 0);
        return handle;
    }
    Inbox dispatch(HANDLE handle) {
        Inbox inbox;
        EXPECT_EQ(lib.callDispatch(handle, &Inbox::proc, &inbox), 0);
        return inbox;
    }
    DWORD lastSendId(HANDLE handle) {
        DWORD id = 0;
        EXPECT_EQ(lib.getLastSentPacketId(handle, &id), 0);
        return id;
    }
    // Maps `area` as `id` with definition `id` of `size` bytes, requested as
    // `request` with `period` and `flags`.
    void subscribe(HANDLE handle, const char* area, DWORD size, DWORD id = 1, DWORD request = 9,
                   SIMCONNECT_CLIENT_DATA_PERIOD period = SIMCONNECT_CLIENT_DATA_PERIOD_ON_SET,
                   DWORD flags = SIMCONNECT_CLIENT_DATA_REQUEST_FLAG_CHANGED) {
        ASSERT_EQ(lib.mapClientDataNameToId(handle, area, id), 0);
        ASSERT_EQ(
            lib.addToClientDataDefinition(handle, id, 0, size, 0.0f, SIMCONNECT_UNUSED), 0);
        ASSERT_EQ(lib.requestClientData(handle, id, request, id, period, flags, 0, 0, 0), 0);
    }
    // The command area as id 2 with a 1024-byte definition 2.
    void mapCommands(HANDLE handle, const char* area = "MobiFlight.Command") {
        ASSERT_EQ(lib.mapClientDataNameToId(handle, area, 2), 0);
        ASSERT_EQ(lib.addToClientDataDefinition(handle, 2, 0, 1024, 0.0f, SIMCONNECT_UNUSED),
                  0);
    }
    void writeCommand(HANDLE handle, const std::string& text) {
        std::vector<std::uint8_t> block(1024, 0);
        std::memcpy(block.data(), text.data(), text.size());
        ASSERT_EQ(lib.setClientData(handle, 2, 2, 0, 0, 1024, block.data()), 0);
    }

    ManualClock clock{ManualClock::Mode::Step};
    SimEmulator sim{clock};
    EmulatorLibrary lib{sim};
};

const SIMCONNECT_RECV_EXCEPTION& exceptionAt(const Inbox& inbox, std::size_t i) {
    return *reinterpret_cast<const SIMCONNECT_RECV_EXCEPTION*>(inbox.messages.at(i).data());
}

TEST_F(SimEmulatorTest, OpensOnlyWhileRunningAndHandlesDieAtClose) {
    HANDLE handle = reinterpret_cast<HANDLE>(1);
    EXPECT_EQ(lib.open(&handle, "Probe"), E_FAIL_RESULT);
    EXPECT_EQ(handle, nullptr);
    sim.setSimulatorRunning(true);
    sim.failNextOpens(1, PIPE_BROKEN_RESULT);
    EXPECT_EQ(lib.open(&handle, "Probe"), PIPE_BROKEN_RESULT);
    handle = openConnection();
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(sim.clientName(1), "Probe");
    EXPECT_EQ(dispatch(handle).ids(), std::vector<DWORD>{SIMCONNECT_RECV_ID_OPEN});
    EXPECT_EQ(lib.close(handle), 0);
    Inbox inbox;
    EXPECT_EQ(lib.callDispatch(handle, &Inbox::proc, &inbox), E_FAIL_RESULT);
    EXPECT_EQ(lib.transmitClientEvent(handle, 0, 1, 0, 1, 0x10), E_FAIL_RESULT);
    EXPECT_EQ(lib.close(handle), E_FAIL_RESULT);
    EXPECT_EQ(sim.callsOnClosedHandles(), 3);
    EXPECT_EQ(sim.openAttempts(), 3);
}

TEST_F(SimEmulatorTest, SendIdsCountOnlyMessagesSentAndRefusedLongNames) {
    sim.setSimulatorRunning(true);
    HANDLE handle = openConnection();
    EXPECT_EQ(lastSendId(handle), 1u);  // the open
    dispatch(handle);
    EXPECT_EQ(lastSendId(handle), 1u);  // dispatching sends nothing
    ASSERT_EQ(lib.mapClientEventToSimEvent(handle, 1, "AP_MASTER"), 0);
    EXPECT_EQ(lastSendId(handle), 2u);
    const std::string tooLong(256, 'A');
    EXPECT_EQ(lib.mapClientDataNameToId(handle, tooLong.c_str(), 5),
              INSUFFICIENT_BUFFER_RESULT);
    EXPECT_EQ(lastSendId(handle), 3u);  // refused, and still counted
    EXPECT_EQ(lib.mapClientDataNameToId(handle, tooLong.substr(1).c_str(), 5), 0);
}

TEST_F(SimEmulatorTest, ScriptedLinksExitAnswerNeverBreakAfterOpenOrGoSilent) {
    sim.setSimulatorRunning(true);
    HANDLE handle = openConnection();
    dispatch(handle);
    sim.exitSimulator();
    EXPECT_FALSE(sim.simulatorRunning());
    EXPECT_EQ(dispatch(handle).ids(), std::vector<DWORD>{SIMCONNECT_RECV_ID_QUIT});
    Inbox inbox;
    EXPECT_EQ(lib.callDispatch(handle, &Inbox::proc, &inbox), PIPE_DISCONNECTED_RESULT);
    EXPECT_EQ(lib.close(handle), 0);

    sim.setSimulatorRunning(true);
    sim.setAnswersOpen(false);
    handle = openConnection();
    EXPECT_TRUE(dispatch(handle).messages.empty());
    sim.setAnswersOpen(true);
    sim.setBreakAfterOpen(LINK_FAILED_RESULT);
    HANDLE breaking = openConnection();
    EXPECT_EQ(dispatch(breaking).ids(), std::vector<DWORD>{SIMCONNECT_RECV_ID_OPEN});
    EXPECT_EQ(lib.callDispatch(breaking, &Inbox::proc, &inbox), LINK_FAILED_RESULT);
    EXPECT_EQ(lib.transmitClientEvent(breaking, 0, 1, 0, 1, 0x10), LINK_FAILED_RESULT);

    // Gone silent: every call succeeds, nothing arrives, nothing happens.
    subscribe(handle, "MobiFlight.Response", 1024);
    mapCommands(handle);
    sim.vanishSilently();
    EXPECT_FALSE(sim.simulatorRunning());
    writeCommand(handle, "MF.Ping");
    EXPECT_EQ(lib.mapClientEventToSimEvent(handle, 1, "NOT_AN_EVENT"), 0);
    EXPECT_TRUE(dispatch(handle).messages.empty());
    EXPECT_TRUE(sim.moduleCommands().empty());
    EXPECT_TRUE(sim.serverExceptions().empty());
}

TEST_F(SimEmulatorTest, ChangedRequestsStartFromTheAreasBytesAndOnceReadsThem) {
    sim.setSimulatorRunning(true);
    sim.createClientData("Test.Area", 64);
    sim.writeClientData("Test.Area", 0, {'a', 'b', 0});  // there before anyone asks
    HANDLE reader = openConnection();
    subscribe(reader, "Test.Area", 16);
    dispatch(reader);
    sim.writeClientData("Test.Area", 0, {'a', 'b', 0});  // same bytes: no message
    sim.writeClientData("Test.Area", 32, {'z'});         // outside the definition: no message
    sim.writeClientData("Test.Area", 0, {'c'});
    sim.writeClientData("Test.Area", 0, {'c'});
    Inbox inbox = dispatch(reader);
    ASSERT_EQ(inbox.messages.size(), 1u);
    EXPECT_EQ(inbox.messages[0].size(), kRecvDataPayloadOffset + 16);
    EXPECT_EQ(inbox.payloadText(0), "cb");
    const auto* data =
        reinterpret_cast<const SIMCONNECT_RECV_CLIENT_DATA*>(inbox.messages[0].data());
    EXPECT_EQ(data->dwID, static_cast<DWORD>(SIMCONNECT_RECV_ID_CLIENT_DATA));
    EXPECT_EQ(data->dwRequestID, 9u);
    EXPECT_EQ(data->dwDefineID, 1u);

    // A once read delivers what is there; a plain on-set request every write.
    ASSERT_EQ(lib.requestClientData(reader, 1, 10, 1, SIMCONNECT_CLIENT_DATA_PERIOD_ONCE, 0,
                                           0, 0, 0),
              0);
    ASSERT_EQ(lib.requestClientData(reader, 1, 11, 1, SIMCONNECT_CLIENT_DATA_PERIOD_ON_SET,
                                           0, 0, 0, 0),
              0);
    sim.writeClientData("Test.Area", 0, {'c'});
    inbox = dispatch(reader);
    ASSERT_EQ(inbox.messages.size(), 2u);
    EXPECT_EQ(inbox.payloadText(0), "cb");
    EXPECT_EQ(
        reinterpret_cast<const SIMCONNECT_RECV_CLIENT_DATA*>(inbox.messages[1].data())->dwRequestID,
        11u);
}

TEST_F(SimEmulatorTest, ServerSideErrorsArriveLaterAsExceptionsWithTheCallsSendId) {
    sim.setSimulatorRunning(true);
    HANDLE handle = openConnection();
    dispatch(handle);
    ASSERT_EQ(lib.mapClientDataNameToId(handle, "MobiFlight.Command", 1), 0);
    ASSERT_EQ(lib.addToClientDataDefinition(handle, 1, 0, 128, 0.0f, SIMCONNECT_UNUSED), 0);
    std::vector<std::uint8_t> block(1024, 0);
    EXPECT_EQ(lib.setClientData(handle, 1, 1, 0, 0, 1024, block.data()), 0);  // wrong size
    const DWORD sizeMismatch = lastSendId(handle);
    EXPECT_EQ(lib.transmitClientEvent(handle, 0, 42, 0, 1, 0x10), 0);  // unmapped id
    EXPECT_EQ(lib.mapClientEventToSimEvent(handle, 1, "AP_MASTER"), 0);
    EXPECT_EQ(lib.mapClientEventToSimEvent(handle, 1, "AP_HDG_HOLD"), 0);  // id taken
    // Nobody created this area: it can be neither asked for nor written.
    ASSERT_EQ(lib.mapClientDataNameToId(handle, "Nobody.Area", 3), 0);
    ASSERT_EQ(lib.requestClientData(handle, 3, 3, 1, SIMCONNECT_CLIENT_DATA_PERIOD_ON_SET, 0,
                                           0, 0, 0),
              0);
    const Inbox inbox = dispatch(handle);
    ASSERT_EQ(inbox.ids(), std::vector<DWORD>(4, SIMCONNECT_RECV_ID_EXCEPTION));
    EXPECT_EQ(exceptionAt(inbox, 0).dwException,
              static_cast<DWORD>(SIMCONNECT_EXCEPTION_SIZE_MISMATCH));
    EXPECT_EQ(exceptionAt(inbox, 0).dwSendID, sizeMismatch);
    EXPECT_EQ(exceptionAt(inbox, 1).dwException,
              static_cast<DWORD>(SIMCONNECT_EXCEPTION_UNRECOGNIZED_ID));
    EXPECT_EQ(exceptionAt(inbox, 2).dwException,
              static_cast<DWORD>(SIMCONNECT_EXCEPTION_EVENT_ID_DUPLICATE));
    EXPECT_EQ(exceptionAt(inbox, 3).dwException,
              static_cast<DWORD>(SIMCONNECT_EXCEPTION_UNRECOGNIZED_ID));
    EXPECT_EQ(sim.serverExceptions().size(), 4u);
    EXPECT_TRUE(sim.moduleCommands().empty());
}

TEST_F(SimEmulatorTest, EventNamesTheSimulatorDoesNotKnowAreRefused) {
    sim.setSimulatorRunning(true);
    HANDLE handle = openConnection();
    dispatch(handle);
    ASSERT_EQ(lib.mapClientEventToSimEvent(handle, 1, "AP_FLC"), 0);  // returns S_OK
    const DWORD refused = lastSendId(handle);
    ASSERT_EQ(lib.transmitClientEvent(handle, 0, 1, 0, 1, 0x10), 0);
    ASSERT_EQ(lib.mapClientEventToSimEvent(handle, 2, "FLIGHT_LEVEL_CHANGE"), 0);
    ASSERT_EQ(lib.mapClientEventToSimEvent(handle, 3, "Custom.Event"), 0);
    ASSERT_EQ(lib.transmitClientEvent(handle, 0, 2, 0, 1, 0x10), 0);
    const Inbox inbox = dispatch(handle);
    ASSERT_EQ(inbox.messages.size(), 2u);
    EXPECT_EQ(exceptionAt(inbox, 0).dwException,
              static_cast<DWORD>(SIMCONNECT_EXCEPTION_NAME_UNRECOGNIZED));
    EXPECT_EQ(exceptionAt(inbox, 0).dwSendID, refused);
    EXPECT_EQ(exceptionAt(inbox, 1).dwException,
              static_cast<DWORD>(SIMCONNECT_EXCEPTION_UNRECOGNIZED_ID));  // never mapped
    ASSERT_EQ(sim.transmittedEvents().size(), 1u);
    EXPECT_EQ(sim.transmittedEvents()[0].name, "FLIGHT_LEVEL_CHANGE");

    sim.forgetSimEvent("AP_MASTER");
    ASSERT_EQ(lib.mapClientEventToSimEvent(handle, 4, "AP_MASTER"), 0);
    EXPECT_EQ(dispatch(handle).ids(), std::vector<DWORD>{SIMCONNECT_RECV_ID_EXCEPTION});
}

TEST_F(SimEmulatorTest, ModuleAnswersRegistrationsAndPingsAndSeesOnlyChangedCommands) {
    sim.setSimulatorRunning(true);
    HANDLE handle = openConnection();
    subscribe(handle, "MobiFlight.Response", 1024);
    mapCommands(handle);
    dispatch(handle);

    writeCommand(handle, "MF.Clients.Add.Probe");
    writeCommand(handle, "MF.SimVars.Add.(L:X)");
    writeCommand(handle, "MF.SimVars.Add.(L:X)");  // identical: not seen
    writeCommand(handle, "MF.Ping");
    writeCommand(handle, "MF.Bogus");  // ignored
    EXPECT_EQ(sim.moduleCommandTexts(),
              (std::vector<std::string>{"MF.Clients.Add.Probe", "MF.SimVars.Add.(L:X)", "MF.Ping",
                                        "MF.Bogus"}));
    EXPECT_EQ(sim.moduleCommands()[0].connection, 1);
    EXPECT_EQ(sim.moduleVariables(), std::vector<std::string>{"(L:X)"});
    EXPECT_EQ(sim.clientData("Probe.Command").size(), 1024u);
    EXPECT_EQ(sim.clientData("Probe.LVars").size(), 4096u);
    Inbox inbox = dispatch(handle);
    ASSERT_EQ(inbox.messages.size(), 2u);
    EXPECT_EQ(inbox.payloadText(0), "MF.Clients.Add.Probe.Finished");
    EXPECT_EQ(inbox.payloadText(1), "MF.Pong");
    // An answer is a whole block: the module's memory follows the zero.
    const auto& answer = inbox.messages[1];
    EXPECT_NE(std::count(answer.begin() + kRecvDataPayloadOffset + 8, answer.end(), 0),
              static_cast<long>(answer.size() - kRecvDataPayloadOffset - 8));

    // The same answer twice changes no byte, so it brings no message.
    writeCommand(handle, "MF.DummyCmd");
    writeCommand(handle, "MF.Ping");
    EXPECT_TRUE(dispatch(handle).messages.empty());

    // A client name seen before keeps its record, variables included.
    ASSERT_EQ(lib.mapClientDataNameToId(handle, "Probe.Command", 4), 0);
    std::vector<std::uint8_t> block(1024, 0);
    const std::string add = "MF.SimVars.Add.(L:Y)";
    std::memcpy(block.data(), add.data(), add.size());
    ASSERT_EQ(lib.setClientData(handle, 4, 2, 0, 0, 1024, block.data()), 0);
    writeCommand(handle, "MF.Clients.Add.Probe");
    EXPECT_EQ(sim.moduleVariables("Probe"), std::vector<std::string>{"(L:Y)"});
    EXPECT_EQ(dispatch(handle).payloadText(0), "MF.Clients.Add.Probe.Finished");

    // An older module ignores registrations: silence, no areas.
    sim.setRegistrationReply(SimEmulator::RegistrationReply::None);
    writeCommand(handle, "MF.Clients.Add.Third");
    EXPECT_TRUE(dispatch(handle).messages.empty());
    EXPECT_TRUE(sim.clientData("Third.Command").empty());
}

TEST_F(SimEmulatorTest, ModuleWritesValuesOnlyWhenTheyChange) {
    sim.setSimulatorRunning(true);
    sim.setLVar("B", 2.5f);
    HANDLE handle = openConnection();
    subscribe(handle, "MobiFlight.LVars", 4096);
    mapCommands(handle);
    dispatch(handle);
    writeCommand(handle, "MF.SimVars.Add.(L:A)");  // 0: the slot's bytes stay, nothing comes
    writeCommand(handle, "MF.SimVars.Add.(L:B)");
    sim.setLVar("a", 0.4f);  // names ignore case
    sim.setLVar("B", 2.5f);  // unchanged: no write
    const Inbox inbox = dispatch(handle);
    ASSERT_EQ(inbox.messages.size(), 2u);  // the add of B, the change of A
    float slots[2];
    std::memcpy(slots, inbox.messages[1].data() + kRecvDataPayloadOffset, sizeof(slots));
    EXPECT_EQ(slots[0], 0.4f);
    EXPECT_EQ(slots[1], 2.5f);

    writeCommand(handle, "MF.SimVars.Set.7 (>L:A)");
    EXPECT_EQ(sim.lvarValue("A"), 7.0f);
    writeCommand(handle, "MF.SimVars.Clear");
    EXPECT_TRUE(sim.moduleVariables().empty());
    const Inbox cleared = dispatch(handle);
    ASSERT_FALSE(cleared.messages.empty());
    std::memcpy(slots, cleared.messages.back().data() + kRecvDataPayloadOffset, sizeof(slots));
    EXPECT_EQ(slots[0], 0.0f);
    EXPECT_EQ(slots[1], 0.0f);
}

TEST_F(SimEmulatorTest, ModuleCanBeAbsentLoadLateAndShareItsDefaultChannel) {
    sim.setSimulatorRunning(true);
    sim.setLVar("SECOND", 3.0f);
    sim.startSecondClient({"(L:SECOND)"});
    EXPECT_EQ(sim.moduleVariables(), std::vector<std::string>{"(L:SECOND)"});
    float value = 0;
    std::memcpy(&value, sim.clientData("MobiFlight.LVars").data(), sizeof(value));
    EXPECT_EQ(value, 3.0f);

    sim.loadModuleAfterOpen(std::chrono::seconds(20));
    EXPECT_FALSE(sim.moduleLoaded());
    EXPECT_TRUE(sim.clientData("MobiFlight.Command").empty());
    HANDLE handle = openConnection();
    subscribe(handle, "MobiFlight.Response", 1024);
    dispatch(handle);
    EXPECT_EQ(sim.serverExceptions().size(), 1u);  // nothing to ask for yet
    clock.sleepFor(std::chrono::seconds(19));
    dispatch(handle);
    EXPECT_FALSE(sim.moduleLoaded());
    clock.sleepFor(std::chrono::seconds(1));
    dispatch(handle);
    EXPECT_TRUE(sim.moduleLoaded());
    EXPECT_TRUE(sim.moduleVariables().empty());  // a fresh start
    EXPECT_EQ(sim.clientData("MobiFlight.Response").size(), 1024u);
}

TEST_F(SimEmulatorTest, ConfigurationTextSetsUpTheSimulator) {
    std::string error;
    EXPECT_TRUE(sim.configure("running, battery=on,backlight=0.25,reply=none,open-fail=2", error))
        << error;
    EXPECT_TRUE(sim.simulatorRunning());
    EXPECT_EQ(sim.lvarValue("LIGHTING_POTENTIOMETER_5"), 0.25f);
    HANDLE handle = nullptr;
    EXPECT_EQ(lib.open(&handle, "P"), E_FAIL_RESULT);
    EXPECT_EQ(lib.open(&handle, "P"), E_FAIL_RESULT);
    EXPECT_EQ(lib.open(&handle, "P"), 0);
    EXPECT_TRUE(sim.configure("module=absent,flight=stopped", error));
    EXPECT_FALSE(sim.moduleLoaded());
    EXPECT_FALSE(sim.flying());
    EXPECT_TRUE(sim.configure("", error));
    EXPECT_FALSE(sim.configure("running,bogus", error));
    EXPECT_EQ(error, "Unknown simulator emulator option: bogus");
}

template <class T>
T messageAs(const Inbox& inbox, std::size_t i) {
    T message{};
    EXPECT_EQ(inbox.messages.at(i).size(), sizeof message);
    std::memcpy(&message, inbox.messages.at(i).data(),
                std::min(sizeof message, inbox.messages.at(i).size()));
    return message;
}

// Each system event as "id:data", a file event as "id:path".
std::vector<std::string> systemEvents(const Inbox& inbox) {
    std::vector<std::string> events;
    for (std::size_t i = 0; i < inbox.messages.size(); ++i) {
        const DWORD id = inbox.ids()[i];
        if (id == SIMCONNECT_RECV_ID_EVENT) {
            const auto e = messageAs<SIMCONNECT_RECV_EVENT>(inbox, i);
            EXPECT_EQ(e.uGroupID, SIMCONNECT_UNKNOWN_GROUP);
            events.push_back(std::to_string(e.uEventID) + ":" + std::to_string(e.dwData));
        } else if (id == SIMCONNECT_RECV_ID_EVENT_FILENAME) {
            const auto e = messageAs<SIMCONNECT_RECV_EVENT_FILENAME>(inbox, i);
            events.push_back(std::to_string(e.uEventID) + ":" + e.szFileName);
        }
    }
    return events;
}

TEST_F(SimEmulatorTest, SystemEventsGoOnlyToSubscribersAndOnlyAfterTheSubscription) {
    sim.setSimulatorRunning(true);
    HANDLE watcher = openConnection();
    HANDLE other = openConnection();
    const SimEmulator::Aircraft jet{R"(SimObjects\Airplanes\Jet\aircraft.cfg)", "Jet", "J1"};
    sim.setAircraft(jet);  // before any subscription: never reported
    sim.stopFlight();
    EXPECT_EQ(systemEvents(dispatch(watcher)), std::vector<std::string>{});

    const char* names[] = {"AircraftLoaded", "simstart", "SimStop", "Sim", "Pause", "NoSuchEvent"};
    for (DWORD id = 1; id <= 6; ++id)
        EXPECT_EQ(lib.subscribeToSystemEvent(watcher, id, names[id - 1]), 0);
    sim.setAircraft({jet.path, "Jet (livery)", "J1"});  // same file: no event
    sim.setAircraft({R"(SimObjects\Airplanes\Prop\aircraft.cfg)", "Prop", "P1"});
    sim.startFlight();
    EXPECT_FALSE(sim.startFlight());  // already flying: nothing more
    sim.setPaused(true);
    sim.stopFlight();  // ends the pause first
    EXPECT_EQ(systemEvents(dispatch(watcher)),
              (std::vector<std::string>{R"(1:SimObjects\Airplanes\Prop\aircraft.cfg)", "2:0",
                                        "4:1", "5:1", "5:0", "3:0", "4:0"}));
    EXPECT_EQ(dispatch(other).ids(), std::vector<DWORD>{SIMCONNECT_RECV_ID_OPEN});

    // Unsubscribed: silent again; a reused or unknown id is an error.
    EXPECT_EQ(lib.unsubscribeFromSystemEvent(watcher, 2), 0);
    EXPECT_EQ(lib.unsubscribeFromSystemEvent(watcher, 2), 0);
    EXPECT_EQ(lib.subscribeToSystemEvent(watcher, 1, "Pause"), 0);
    EXPECT_EQ(lib.mapClientEventToSimEvent(watcher, 4, "AP_MASTER"), 0);
    sim.startFlight();
    const Inbox later = dispatch(watcher);
    EXPECT_EQ(systemEvents(later), std::vector<std::string>{"4:1"});
    std::vector<DWORD> errors;
    for (std::size_t i = 0; i < later.messages.size(); ++i) {
        if (later.ids()[i] == SIMCONNECT_RECV_ID_EXCEPTION)
            errors.push_back(exceptionAt(later, i).dwException);
    }
    EXPECT_EQ(errors, (std::vector<DWORD>{SIMCONNECT_EXCEPTION_UNRECOGNIZED_ID,
                                          SIMCONNECT_EXCEPTION_EVENT_ID_DUPLICATE,
                                          SIMCONNECT_EXCEPTION_EVENT_ID_DUPLICATE}));
}

TEST_F(SimEmulatorTest, SystemStatesAnswerTheAircraftAndWhetherAFlightRuns) {
    sim.setSimulatorRunning(true);
    HANDLE handle = openConnection();
    dispatch(handle);
    EXPECT_EQ(lib.requestSystemState(handle, 10, "AircraftLoaded"), 0);
    EXPECT_EQ(lib.requestSystemState(handle, 11, "Sim"), 0);
    EXPECT_EQ(lib.requestSystemState(handle, 12, "NoSuchState"), 0);  // never answered
    sim.stopFlight();
    EXPECT_EQ(lib.requestSystemState(handle, 13, "Sim"), 0);
    const Inbox inbox = dispatch(handle);
    ASSERT_EQ(inbox.ids(), std::vector<DWORD>(3, SIMCONNECT_RECV_ID_SYSTEM_STATE));
    const auto aircraft = messageAs<SIMCONNECT_RECV_SYSTEM_STATE>(inbox, 0);
    EXPECT_EQ(aircraft.dwRequestID, 10u);
    EXPECT_EQ(std::string(aircraft.szString), SimEmulator::defaultAircraft().path);
    const auto flying = messageAs<SIMCONNECT_RECV_SYSTEM_STATE>(inbox, 1);
    const auto stopped = messageAs<SIMCONNECT_RECV_SYSTEM_STATE>(inbox, 2);
    EXPECT_EQ(std::vector<DWORD>({flying.dwRequestID, flying.dwInteger, stopped.dwRequestID,
                                  stopped.dwInteger}),
              std::vector<DWORD>({11, 1, 13, 0}));
}

TEST_F(SimEmulatorTest, StringVariablesComePackedInDefinitionOrderWhenTheyChange) {
    sim.setSimulatorRunning(true);
    HANDLE handle = openConnection();
    dispatch(handle);
    ASSERT_EQ(lib.addToDataDefinition(handle, 20, "TITLE", "", SIMCONNECT_DATATYPE_STRING256, 0,
                                      SIMCONNECT_UNUSED),
              0);
    ASSERT_EQ(lib.addToDataDefinition(handle, 20, "ATC MODEL", "", SIMCONNECT_DATATYPE_STRING32,
                                      0, SIMCONNECT_UNUSED),
              0);
    ASSERT_EQ(lib.requestDataOnSimObject(handle, 30, 20, 0, SIMCONNECT_PERIOD_SECOND,
                                         SIMCONNECT_DATA_REQUEST_FLAG_CHANGED, 0, 0, 0),
              0);
    const auto strings = [](const Inbox& inbox, std::size_t i) {
        const auto& m = inbox.messages.at(i);
        EXPECT_EQ(m.size(), kRecvDataPayloadOffset + 256 + 32);
        const char* data = reinterpret_cast<const char*>(m.data() + kRecvDataPayloadOffset);
        return std::string(data) + "|" + std::string(data + 256);
    };
    Inbox first = dispatch(handle);
    ASSERT_EQ(first.messages.size(), 1u);
    EXPECT_EQ(strings(first, 0), "Emulated Trainer|TRAINER");

    sim.setBattery(false);  // other variables: nothing new
    sim.setAircraft({"other.cfg", std::string(300, 'T'), std::string(40, 'M')});
    Inbox changed = dispatch(handle);
    ASSERT_EQ(changed.messages.size(), 1u);
    EXPECT_EQ(strings(changed, 0), std::string(255, 'T') + "|" + std::string(31, 'M'));

    // Period NEVER stops the request; clearing an unknown definition is an error.
    ASSERT_EQ(lib.requestDataOnSimObject(handle, 30, 20, 0, SIMCONNECT_PERIOD_NEVER, 0, 0, 0, 0),
              0);
    sim.setAircraft(SimEmulator::defaultAircraft());
    EXPECT_EQ(lib.clearDataDefinition(handle, 20), 0);
    EXPECT_EQ(lib.clearDataDefinition(handle, 20), 0);
    const Inbox after = dispatch(handle);
    ASSERT_EQ(after.ids(), std::vector<DWORD>{SIMCONNECT_RECV_ID_EXCEPTION});
    EXPECT_EQ(exceptionAt(after, 0).dwException, SIMCONNECT_EXCEPTION_UNRECOGNIZED_ID);
}

// Frame events at the set rate, on the emulator's clock; none before the
// subscription, none while paused; other frames still count.
TEST_F(SimEmulatorTest, FramesComeAtTheSetRateToFrameSubscribersDuringAFlight) {
    sim.setSimulatorRunning(true);
    HANDLE handle = openConnection();
    dispatch(handle);
    EXPECT_FALSE(sim.nextFrameDue());  // nobody waits for frames
    clock.advance(std::chrono::seconds(1));
    EXPECT_EQ(lib.subscribeToSystemEvent(handle, 7, "Frame"), 0);
    EXPECT_EQ(dispatch(handle).messages.size(), 0u);
    EXPECT_EQ(sim.frameCount(), 30u);

    clock.advance(std::chrono::seconds(1));
    Inbox second = dispatch(handle);
    ASSERT_EQ(second.ids(), std::vector<DWORD>(30, SIMCONNECT_RECV_ID_EVENT_FRAME));
    const auto frame = messageAs<SIMCONNECT_RECV_EVENT_FRAME>(second, 0);
    EXPECT_EQ(frame.uEventID, 7u);
    EXPECT_EQ(frame.fFrameRate, 30.0f);
    EXPECT_EQ(frame.fSimSpeed, 1.0f);

    ASSERT_TRUE(sim.setFrameRate(60));
    EXPECT_FALSE(sim.setFrameRate(0));
    EXPECT_EQ(sim.nextFrameDue(), clock.now() + std::chrono::nanoseconds(16666667));
    clock.advance(std::chrono::milliseconds(500));
    EXPECT_EQ(dispatch(handle).messages.size(), 30u);
    clock.advance(std::chrono::microseconds(16666));  // not quite a frame
    EXPECT_EQ(dispatch(handle).messages.size(), 0u);

    sim.setPaused(true);
    EXPECT_FALSE(sim.nextFrameDue());
    clock.advance(std::chrono::seconds(1));
    EXPECT_EQ(dispatch(handle).messages.size(), 0u);
    sim.setPaused(false);
    EXPECT_EQ(systemEvents(dispatch(handle)), std::vector<std::string>{});
    clock.advance(std::chrono::seconds(1));
    EXPECT_EQ(dispatch(handle).messages.size(), 60u);
}

TEST_F(SimEmulatorTest, AStallHoldsTheFramesForItsLengthAndTheHookSeesEachFrame) {
    std::vector<std::uint64_t> ended;
    sim.setFrameHook([&ended](std::uint64_t frame) { ended.push_back(frame); });
    clock.advance(std::chrono::milliseconds(100));  // frames 1 to 3
    sim.stallFrames(std::chrono::seconds(2));
    EXPECT_EQ(ended, (std::vector<std::uint64_t>{1, 2, 3}));
    EXPECT_EQ(sim.nextFrameDue(), clock.now() + std::chrono::seconds(2) +
                                      std::chrono::nanoseconds(33333334));
    clock.advance(std::chrono::seconds(2));
    sim.runDueFrames();
    EXPECT_EQ(ended.size(), 3u);
    clock.advance(std::chrono::milliseconds(34));
    sim.runDueFrames();
    EXPECT_EQ(ended, (std::vector<std::uint64_t>{1, 2, 3, 4}));
}

TEST(BoundedLogTest, KeepsTheLatestEntriesAndCountsThemAll) {
    BoundedLog<int> log(3);
    for (int i = 1; i <= 5; ++i)
        log.push(i);
    EXPECT_EQ(log.total(), 5u);
    EXPECT_EQ(log.entries(), (std::vector<int>{3, 4, 5}));
    EXPECT_EQ(log.since(4), std::vector<int>{5});
    EXPECT_EQ(log.since(0), (std::vector<int>{3, 4, 5}));  // older ones are gone
    EXPECT_TRUE(log.since(5).empty());
}

}  // namespace
