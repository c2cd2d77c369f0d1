#include "emulation/sim_emulator.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

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
        EXPECT_EQ(SimConnect_Open(&handle, "Probe", nullptr, 0, nullptr, 0), 0);
        return handle;
    }
    Inbox dispatch(HANDLE handle) {
        Inbox inbox;
        EXPECT_EQ(SimConnect_CallDispatch(handle, &Inbox::proc, &inbox), 0);
        return inbox;
    }
    // Maps `area` as id 1 with one definition 1 of `size` bytes, subscribed as request 9.
    void subscribe(HANDLE handle, const char* area, DWORD size) {
        ASSERT_EQ(SimConnect_MapClientDataNameToID(handle, area, 1), 0);
        ASSERT_EQ(SimConnect_AddToClientDataDefinition(handle, 1, 0, size, 0.0f, SIMCONNECT_UNUSED),
                  0);
        ASSERT_EQ(
            SimConnect_RequestClientData(handle, 1, 9, 1, SIMCONNECT_CLIENT_DATA_PERIOD_ON_SET,
                                         SIMCONNECT_CLIENT_DATA_REQUEST_FLAG_CHANGED, 0, 0, 0),
            0);
    }
    void writeCommand(HANDLE handle, DWORD areaId, DWORD defineId, const std::string& text) {
        std::vector<std::uint8_t> block(256, 0);
        std::memcpy(block.data(), text.data(), text.size());
        ASSERT_EQ(SimConnect_SetClientData(handle, areaId, defineId, 0, 0, 256, block.data()), 0);
    }

    SimEmulator sim;
};

TEST_F(SimEmulatorTest, OpensOnlyWhileRunningAndHandlesDieAtClose) {
    HANDLE handle = reinterpret_cast<HANDLE>(1);
    EXPECT_EQ(SimConnect_Open(&handle, "Probe", nullptr, 0, nullptr, 0), E_FAIL_RESULT);
    EXPECT_EQ(handle, nullptr);
    sim.setSimulatorRunning(true);
    sim.failNextOpens(1, PIPE_BROKEN_RESULT);
    EXPECT_EQ(SimConnect_Open(&handle, "Probe", nullptr, 0, nullptr, 0), PIPE_BROKEN_RESULT);
    handle = openConnection();
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(sim.clientName(1), "Probe");
    EXPECT_EQ(dispatch(handle).ids(), std::vector<DWORD>{SIMCONNECT_RECV_ID_OPEN});
    EXPECT_EQ(SimConnect_Close(handle), 0);
    Inbox inbox;
    EXPECT_EQ(SimConnect_CallDispatch(handle, &Inbox::proc, &inbox), E_FAIL_RESULT);
    EXPECT_EQ(SimConnect_TransmitClientEvent(handle, 0, 1, 0, 1, 0x10), E_FAIL_RESULT);
    EXPECT_EQ(SimConnect_Close(handle), E_FAIL_RESULT);
    EXPECT_EQ(sim.callsOnClosedHandles(), 3);
    EXPECT_EQ(sim.openAttempts(), 3);
}

TEST_F(SimEmulatorTest, ExitSendsQuitThenBreaksTheConnection) {
    sim.setSimulatorRunning(true);
    HANDLE handle = openConnection();
    dispatch(handle);
    sim.exitSimulator();
    EXPECT_FALSE(sim.simulatorRunning());
    EXPECT_EQ(dispatch(handle).ids(), std::vector<DWORD>{SIMCONNECT_RECV_ID_QUIT});
    Inbox inbox;
    EXPECT_EQ(SimConnect_CallDispatch(handle, &Inbox::proc, &inbox), PIPE_DISCONNECTED_RESULT);
    EXPECT_EQ(SimConnect_Close(handle), 0);
}

TEST_F(SimEmulatorTest, ClientDataOnSetChangedIsSentOnlyWhenTheBytesChange) {
    sim.setSimulatorRunning(true);
    sim.createClientData("Test.Area", 64);
    HANDLE reader = openConnection();
    subscribe(reader, "Test.Area", 16);
    dispatch(reader);
    sim.writeClientData("Test.Area", 0, {'a', 'b', 0});
    sim.writeClientData("Test.Area", 0, {'a', 'b', 0});  // same bytes: no message
    sim.writeClientData("Test.Area", 32, {'z'});         // outside the definition: no message
    sim.writeClientData("Test.Area", 0, {'c'});
    Inbox inbox = dispatch(reader);
    ASSERT_EQ(inbox.messages.size(), 2u);
    EXPECT_EQ(inbox.messages[0].size(), kRecvDataPayloadOffset + 16);
    EXPECT_EQ(inbox.payloadText(0), "ab");
    EXPECT_EQ(inbox.payloadText(1), "cb");
    const auto* data =
        reinterpret_cast<const SIMCONNECT_RECV_CLIENT_DATA*>(inbox.messages[0].data());
    EXPECT_EQ(data->dwID, static_cast<DWORD>(SIMCONNECT_RECV_ID_CLIENT_DATA));
    EXPECT_EQ(data->dwRequestID, 9u);
    EXPECT_EQ(data->dwDefineID, 1u);
}

TEST_F(SimEmulatorTest, ServerSideErrorsArriveLaterAsExceptions) {
    sim.setSimulatorRunning(true);
    HANDLE handle = openConnection();
    dispatch(handle);
    ASSERT_EQ(SimConnect_MapClientDataNameToID(handle, "MobiFlight.Command", 1), 0);
    ASSERT_EQ(SimConnect_AddToClientDataDefinition(handle, 1, 0, 128, 0.0f, SIMCONNECT_UNUSED), 0);
    std::vector<std::uint8_t> block(256, 0);
    EXPECT_EQ(SimConnect_SetClientData(handle, 1, 1, 0, 0, 256, block.data()), 0);  // wrong size
    EXPECT_EQ(SimConnect_TransmitClientEvent(handle, 0, 42, 0, 1, 0x10), 0);        // unmapped id
    EXPECT_EQ(SimConnect_MapClientEventToSimEvent(handle, 1, "A"), 0);
    EXPECT_EQ(SimConnect_MapClientEventToSimEvent(handle, 1, "B"), 0);  // id taken
    const Inbox inbox = dispatch(handle);
    ASSERT_EQ(inbox.ids(), std::vector<DWORD>(3, SIMCONNECT_RECV_ID_EXCEPTION));
    const auto* first =
        reinterpret_cast<const SIMCONNECT_RECV_EXCEPTION*>(inbox.messages[0].data());
    EXPECT_EQ(first->dwException, static_cast<DWORD>(SIMCONNECT_EXCEPTION_SIZE_MISMATCH));
    EXPECT_NE(first->dwSendID, 0u);
    EXPECT_EQ(sim.serverExceptions().size(), 3u);
    EXPECT_TRUE(sim.moduleCommands().empty());
}

TEST_F(SimEmulatorTest, ModuleRegistersClientsAndSeesOnlyChangedCommands) {
    sim.setSimulatorRunning(true);
    HANDLE handle = openConnection();
    subscribe(handle, "MobiFlight.Response", 256);
    ASSERT_EQ(SimConnect_MapClientDataNameToID(handle, "MobiFlight.Command", 2), 0);
    ASSERT_EQ(SimConnect_AddToClientDataDefinition(handle, 2, 0, 256, 0.0f, SIMCONNECT_UNUSED), 0);
    dispatch(handle);

    writeCommand(handle, 2, 2, "MF.Clients.Add.Probe");
    writeCommand(handle, 2, 2, "MF.SimVars.Add.(L:X)");
    writeCommand(handle, 2, 2, "MF.SimVars.Add.(L:X)");  // identical: not seen
    writeCommand(handle, 2, 2, "MF.Ping");
    EXPECT_EQ(
        sim.moduleCommandTexts(),
        (std::vector<std::string>{"MF.Clients.Add.Probe", "MF.SimVars.Add.(L:X)", "MF.Ping"}));
    EXPECT_EQ(sim.moduleCommands()[0].connection, 1);
    EXPECT_EQ(sim.moduleVariables(), std::vector<std::string>{"(L:X)"});
    EXPECT_FALSE(sim.clientData("Probe.LVars").empty());
    const Inbox inbox = dispatch(handle);
    ASSERT_EQ(inbox.messages.size(), 2u);
    EXPECT_EQ(inbox.payloadText(0), "MF.Clients.Add.Probe.Finished");
    EXPECT_EQ(inbox.payloadText(1), "MF.Pong");

    sim.setRegistrationReply(SimEmulator::RegistrationReply::Error);
    writeCommand(handle, 2, 2, "MF.Clients.Add.Other");
    EXPECT_EQ(dispatch(handle).payloadText(0), "MF.Clients.Add.Other.Error");
    sim.setRegistrationReply(SimEmulator::RegistrationReply::None);
    writeCommand(handle, 2, 2, "MF.Clients.Add.Third");
    EXPECT_TRUE(dispatch(handle).messages.empty());
    EXPECT_TRUE(sim.clientData("Third.Command").empty());
}

TEST_F(SimEmulatorTest, ModulePushesSubscribedLVarsAsFloatsInSlotOrder) {
    sim.setSimulatorRunning(true);
    sim.setLVar("B", 2.5f);
    HANDLE handle = openConnection();
    subscribe(handle, "MobiFlight.LVars", 4096);
    ASSERT_EQ(SimConnect_MapClientDataNameToID(handle, "MobiFlight.Command", 2), 0);
    ASSERT_EQ(SimConnect_AddToClientDataDefinition(handle, 2, 0, 256, 0.0f, SIMCONNECT_UNUSED), 0);
    dispatch(handle);
    writeCommand(handle, 2, 2, "MF.SimVars.Add.(L:A)");
    writeCommand(handle, 2, 2, "MF.SimVars.Add.(L:B)");
    sim.setLVar("a", 0.4f);  // names ignore case
    sim.setLVar("B", 2.5f);  // unchanged: no push
    const Inbox inbox = dispatch(handle);
    ASSERT_EQ(inbox.messages.size(), 3u);  // the adds of A and B, the change of A
    float slots[2];
    std::memcpy(slots, inbox.messages[2].data() + kRecvDataPayloadOffset, sizeof(slots));
    EXPECT_EQ(slots[0], 0.4f);
    EXPECT_EQ(slots[1], 2.5f);

    writeCommand(handle, 2, 2, "MF.SimVars.Set.7 (>L:A)");
    EXPECT_EQ(sim.lvarValue("A"), 7.0f);
    writeCommand(handle, 2, 2, "MF.SimVars.Clear");
    EXPECT_TRUE(sim.moduleVariables().empty());
    const Inbox cleared = dispatch(handle);
    ASSERT_FALSE(cleared.messages.empty());
    std::memcpy(slots, cleared.messages.back().data() + kRecvDataPayloadOffset, sizeof(slots));
    EXPECT_EQ(slots[0], 0.0f);
    EXPECT_EQ(slots[1], 0.0f);
}

TEST_F(SimEmulatorTest, ConfigurationTextSetsUpTheSimulator) {
    std::string error;
    EXPECT_TRUE(sim.configure("running, battery=on,backlight=0.25,reply=none,open-fail=2", error))
        << error;
    EXPECT_TRUE(sim.simulatorRunning());
    EXPECT_EQ(sim.lvarValue("LIGHTING_POTENTIOMETER_5"), 0.25f);
    HANDLE handle = nullptr;
    EXPECT_EQ(SimConnect_Open(&handle, "P", nullptr, 0, nullptr, 0), E_FAIL_RESULT);
    EXPECT_EQ(SimConnect_Open(&handle, "P", nullptr, 0, nullptr, 0), E_FAIL_RESULT);
    EXPECT_EQ(SimConnect_Open(&handle, "P", nullptr, 0, nullptr, 0), 0);
    EXPECT_TRUE(sim.configure("", error));
    EXPECT_FALSE(sim.configure("running,bogus", error));
    EXPECT_EQ(error, "Unknown simulator emulator option: bogus");
}

TEST(SimEmulatorLifetimeTest, WithoutAnEmulatorOpenFailsLikeWithoutASimulator) {
    ASSERT_EQ(SimEmulator::installed(), nullptr);
    HANDLE handle = reinterpret_cast<HANDLE>(1);
    EXPECT_EQ(SimConnect_Open(&handle, "P", nullptr, 0, nullptr, 0), E_FAIL_RESULT);
    EXPECT_EQ(handle, nullptr);
    {
        SimEmulator sim;
        EXPECT_EQ(SimEmulator::installed(), &sim);
    }
    EXPECT_EQ(SimEmulator::installed(), nullptr);
}

}  // namespace
