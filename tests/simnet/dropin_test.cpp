// The drop-in library (libSimConnect.so / SimConnect.dll from src/simnet),
// linked by name as the program links SimConnect: it finds a server in
// this process through SimConnect.cfg in the current folder.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <mutex>
#include <thread>

#include "fakes/temp_dir.h"
#include "platform/paths.h"
#include "sim/simconnect_api.h"
#include "simnet/server.h"

namespace {

using namespace simconnect;

class Recorder : public simnet::ClientHandler {
public:
    explicit Recorder(std::shared_ptr<simnet::ServerSession> session) : session_(session) {}
    void onMessage(const simnet::ClientMessage& message) override {
        // Every call is answered with an exception naming its send id.
        session_->sendException(SIMCONNECT_EXCEPTION_NONE, message.sendId, 0);
    }

private:
    std::shared_ptr<simnet::ServerSession> session_;
};

void SIMCONNECT_CALL collect(SIMCONNECT_RECV* data, DWORD cbData, void* context) {
    auto* sendIds = static_cast<std::vector<DWORD>*>(context);
    if (data->dwID == SIMCONNECT_RECV_ID_EXCEPTION && cbData == sizeof(SIMCONNECT_RECV_EXCEPTION)) {
        sendIds->push_back(reinterpret_cast<SIMCONNECT_RECV_EXCEPTION*>(data)->dwSendID);
    }
}

TEST(SimnetDropIn, OpensThroughSimConnectCfgAndCarriesCallsBothWays) {
    simnet::Server server(
        [](std::shared_ptr<simnet::ServerSession> s) { return std::make_unique<Recorder>(s); });
    std::string error;
    ASSERT_TRUE(server.start(error)) << error;
    TempDir folder;
    writeFileBytes(folder.file("SimConnect.cfg"),
                   "[SimConnect]\nProtocol=IPv4\nAddress=127.0.0.1\nPort=" +
                       std::to_string(server.port()) + "\n");
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(platform::toPath(folder.path()));
    HANDLE handle = nullptr;
    const HRESULT opened = SimConnect_Open(&handle, "CorvaneHID", nullptr, 0, nullptr, 0);
    std::filesystem::current_path(previous);
    ASSERT_EQ(opened, S_OK_RESULT);

    EXPECT_EQ(SimConnect_TransmitClientEvent(handle, 0, 1, 0, 1, 0x10), S_OK_RESULT);
    std::vector<DWORD> sendIds;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (sendIds.size() < 2 && std::chrono::steady_clock::now() < deadline) {
        ASSERT_EQ(SimConnect_CallDispatch(handle, collect, &sendIds), S_OK_RESULT);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_EQ(sendIds, (std::vector<DWORD>{1, 2}));
    EXPECT_EQ(SimConnect_Close(handle), S_OK_RESULT);
}

}  // namespace
