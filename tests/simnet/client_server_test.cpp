// The network client (through the SimConnect functions, as the program
// calls them) against the server core on 127.0.0.1, and on a named pipe
// where the system has them.

#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>
#include <random>
#include <thread>

#include "fakes/log_capture.h"
#include "fakes/temp_dir.h"
#include "fakes/test_clocks.h"
#include "platform/paths.h"
#include "platform/stream_transport.h"
#include "sim/simconnect_api.h"
#include "simnet/client_connection.h"
#include "simnet/server.h"
#include "dispatch_helpers.h"
#include "wire_vectors.h"

namespace {

using namespace simnet;
using namespace simconnect;
using namespace simnet_test;

// What the server's handlers saw, over all clients.
class ServerLog {
public:
    void opened(const std::shared_ptr<ServerSession>& session) {
        std::lock_guard<std::mutex> lock(mutex_);
        sessions_[session->clientId()] = session;
        changed_.notify_all();
    }
    void received(std::uint32_t client, const ClientMessage& message) {
        std::lock_guard<std::mutex> lock(mutex_);
        messages_[client].push_back(message);
        changed_.notify_all();
    }
    void closed(std::uint32_t client, const std::string& reason) {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_[client] = reason;
        changed_.notify_all();
    }

    // The client's first `count` messages; fewer when they do not come.
    std::vector<ClientMessage> messages(std::uint32_t client, std::size_t count) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait_for(lock, kPatience, [&] { return messages_[client].size() >= count; });
        return messages_[client];
    }
    std::shared_ptr<ServerSession> session(std::uint32_t client) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait_for(lock, kPatience, [&] { return sessions_.count(client) > 0; });
        return sessions_.count(client) ? sessions_[client] : nullptr;
    }
    std::string closedReason(std::uint32_t client) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait_for(lock, kPatience, [&] { return closed_.count(client) > 0; });
        return closed_.count(client) ? closed_[client] : "(still open)";
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<std::uint32_t, std::shared_ptr<ServerSession>> sessions_;
    std::map<std::uint32_t, std::vector<ClientMessage>> messages_;
    std::map<std::uint32_t, std::string> closed_;
};

class RecordingHandler : public ClientHandler {
public:
    RecordingHandler(ServerLog& log, std::uint32_t client) : log_(log), client_(client) {}
    void onMessage(const ClientMessage& message) override { log_.received(client_, message); }
    void onClosed(const std::string& reason) override { log_.closed(client_, reason); }

private:
    ServerLog& log_;
    std::uint32_t client_;
};

class TestServer {
public:
    explicit TestServer(ServerOptions options = {})
        : server_(
              [this](std::shared_ptr<ServerSession> session) {
                  log.opened(session);
                  return std::make_unique<RecordingHandler>(log, session->clientId());
              },
              std::move(options)) {
        std::string error;
        EXPECT_TRUE(server_.start(error)) << error;
    }

    Endpoint endpoint() const {
        return Endpoint::tcp("127.0.0.1", server_.port(), platform::IpFamily::V4);
    }
    Server& server() { return server_; }

    ServerLog log;

private:
    Server server_;
};

// The SimConnect function the program would call for a decoded call.
struct CallApi {
    simconnect::Library& lib;
    HANDLE h;
    HRESULT operator()(const OpenCall&) const { return E_FAIL_RESULT; }
    HRESULT operator()(const MapClientEventToSimEventCall& c) const {
        return lib.mapClientEventToSimEvent(h, c.eventId, c.eventName.c_str());
    }
    HRESULT operator()(const TransmitClientEventCall& c) const {
        return lib.transmitClientEvent(h, c.objectId, c.eventId, c.data, c.groupId, c.flags);
    }
    HRESULT operator()(const AddToDataDefinitionCall& c) const {
        return lib.addToDataDefinition(
            h, c.defineId, c.datumName.c_str(), c.unitsName.c_str(),
            static_cast<SIMCONNECT_DATATYPE>(c.datumType), c.epsilon, c.datumId);
    }
    HRESULT operator()(const RequestDataOnSimObjectCall& c) const {
        return lib.requestDataOnSimObject(h, c.requestId, c.defineId, c.objectId,
                                                 static_cast<SIMCONNECT_PERIOD>(c.period), c.flags,
                                                 c.origin, c.interval, c.limit);
    }
    HRESULT operator()(const MapClientDataNameToIdCall& c) const {
        return lib.mapClientDataNameToId(h, c.name.c_str(), c.clientDataId);
    }
    HRESULT operator()(const CreateClientDataCall& c) const {
        return lib.createClientData(h, c.clientDataId, c.size, c.flags);
    }
    HRESULT operator()(const AddToClientDataDefinitionCall& c) const {
        return lib.addToClientDataDefinition(h, c.defineId, c.offset, c.sizeOrType,
                                                    c.epsilon, c.datumId);
    }
    HRESULT operator()(const RequestClientDataCall& c) const {
        return lib.requestClientData(h, c.clientDataId, c.requestId, c.defineId,
                                            static_cast<SIMCONNECT_CLIENT_DATA_PERIOD>(c.period),
                                            c.flags, c.origin, c.interval, c.limit);
    }
    HRESULT operator()(const SetClientDataCall& c) const {
        Bytes data = c.data.bytes;
        return lib.setClientData(h, c.clientDataId, c.defineId, c.flags, c.reserved,
                                        static_cast<DWORD>(data.size()), data.data());
    }
    HRESULT operator()(const ClearDataDefinitionCall& c) const {
        return lib.clearDataDefinition(h, c.defineId);
    }
    HRESULT operator()(const SubscribeToSystemEventCall& c) const {
        return lib.subscribeToSystemEvent(h, c.eventId, c.name.c_str());
    }
    HRESULT operator()(const UnsubscribeFromSystemEventCall& c) const {
        return lib.unsubscribeFromSystemEvent(h, c.eventId);
    }
    HRESULT operator()(const RequestSystemStateCall& c) const {
        return lib.requestSystemState(h, c.requestId, c.name.c_str());
    }
};

Bytes encoded(const ClientMessage& message) {
    Bytes bytes;
    EXPECT_EQ(encodeClientMessage(message, bytes), CodecError::None);
    return bytes;
}

Bytes recvBytes(const Recv& body) {
    Bytes bytes;
    EXPECT_EQ(encodeServerMessage(ServerMessage{kProtocolVersion, body}, bytes), CodecError::None);
    return bytes;
}

class SimnetLink : public ::testing::Test {
protected:
    TargetedLibrary lib;

    HANDLE open(const Endpoint& endpoint, const char* name = "CorvaneHID") {
        lib.setTarget(endpoint);
        HANDLE handle = nullptr;
        EXPECT_EQ(lib.open(&handle, name), S_OK_RESULT);
        EXPECT_NE(handle, nullptr);
        return handle;
    }
};

// The program's calls, and the limits: each arrives at the server as the
// bytes the SDK's library sent, send ids consecutive; a name of 256+
// characters is refused with 0x8007007A and uses up an id (the gaps in
// c2s-edge).
TEST_F(SimnetLink, EveryCallArrivesAsTheLibrarySendsIt) {
    for (const char* folder : {"c2s", "c2s-edge", "c2s-aircraft"}) {
        TestServer server;
        HANDLE h = open(server.endpoint());
        const std::vector<WireVector> vectors = loadWireVectors(folder);
        std::uint32_t sent = 1;  // the Open
        for (const WireVector& v : vectors) {
            ClientMessage message;
            ASSERT_EQ(decodeClientMessage(v.bytes.data(), v.bytes.size(), message),
                      CodecError::None);
            if (message.sendId == 1) continue;
            for (; sent + 1 < message.sendId; ++sent) {
                EXPECT_EQ(lib.mapClientEventToSimEvent(h, 11, std::string(256, 'B').c_str()),
                          INSUFFICIENT_BUFFER_RESULT);
            }
            EXPECT_EQ(std::visit(CallApi{lib, h}, message.call), S_OK_RESULT) << v.name;
            EXPECT_EQ(lastSendId(lib, h), ++sent) << v.name;
        }
        // c2s-aircraft was captured without its Open.
        const std::size_t open = vectors.front().kind == "Open" ? 0 : 1;
        const std::vector<ClientMessage> received =
            server.log.messages(1, vectors.size() + open);
        ASSERT_EQ(received.size(), vectors.size() + open) << folder;
        for (std::size_t i = 0; i < vectors.size(); ++i) {
            EXPECT_EQ(encoded(received[i + open]), vectors[i].bytes) << vectors[i].name;
        }
        EXPECT_EQ(lib.close(h), S_OK_RESULT);
    }
}

TEST_F(SimnetLink, EveryServerMessageReachesTheDispatchProcedureUnchanged) {
    TestServer server;
    HANDLE h = open(server.endpoint());
    const auto session = server.log.session(1);
    ASSERT_TRUE(session);
    std::vector<Bytes> sent;
    std::vector<WireVector> vectors = loadWireVectors("s2c");
    for (WireVector& v : loadWireVectors("s2c-aircraft"))
        vectors.push_back(std::move(v));
    for (const WireVector& v : vectors) {
        ServerMessage message;
        ASSERT_EQ(decodeServerMessage(v.bytes.data(), v.bytes.size(), message), CodecError::None);
        ASSERT_TRUE(session->send(message));
        sent.push_back(v.bytes);
    }
    // An id this program does not know, with another version: passed on too.
    ASSERT_TRUE(session->send(ServerMessage{6, RecvRaw{99, {Bytes{1, 2, 3, 4, 5}}}}));
    sent.push_back(recvBytes(RecvRaw{99, {Bytes{1, 2, 3, 4, 5}}}));
    sent.back()[4] = 6;

    Inbox inbox;
    EXPECT_EQ(pump(lib, h, inbox, sent.size()), S_OK_RESULT);
    EXPECT_EQ(inbox.messages, sent);
    EXPECT_EQ(inbox.sizeMismatches, 0);
    EXPECT_EQ(lib.close(h), S_OK_RESULT);
}

// Data and QUIT, then the server hangs up: one CallDispatch delivers both
// and reports the lost link, and so does every later call, which sends
// nothing and uses no send id.
TEST_F(SimnetLink, QueuedMessagesComeFirstWhenTheServerQuits) {
    TestServer server;
    std::unique_ptr<ClientConnection> connection;
    std::string error;
    ASSERT_EQ(ClientConnection::open(server.endpoint(), "CorvaneHID", {}, connection, error),
              S_OK_RESULT)
        << error;
    const auto session = server.log.session(1);
    ASSERT_TRUE(session);
    RecvSimObjectData battery;
    battery.requestId = 1;
    battery.payload.bytes = {1, 0, 0, 0};
    ASSERT_TRUE(session->send(ServerMessage{kProtocolVersion, battery}));
    ASSERT_TRUE(session->send(ServerMessage{kProtocolVersion, RecvQuit{}}));
    session->close();
    EXPECT_FALSE(session->send(ServerMessage{kProtocolVersion, RecvQuit{}}));
    ASSERT_TRUE(eventually([&] { return connection->linkFailed(); }));

    Inbox inbox;
    EXPECT_EQ(connection->callDispatch(collect, &inbox), LINK_FAILED_RESULT);
    ASSERT_EQ(inbox.messages.size(), 2u);
    EXPECT_EQ(inbox.messages[0], recvBytes(battery));
    EXPECT_EQ(inbox.messages[1], recvBytes(RecvQuit{}));
    EXPECT_EQ(connection->callDispatch(collect, &inbox), LINK_FAILED_RESULT);
    EXPECT_EQ(inbox.messages.size(), 2u);
    EXPECT_EQ(connection->send(TransmitClientEventCall{0, 1, 0, 1, 0x10}), LINK_FAILED_RESULT);
    EXPECT_EQ(connection->lastSentPacketId(), 1u);
    connection.reset();
    EXPECT_EQ(server.log.closedReason(1), "closed by the server");
}

TEST_F(SimnetLink, AVanishedServerFailsTheLinkAndAReconnectStartsAfresh) {
    TestServer server;
    HANDLE h = open(server.endpoint());
    ASSERT_TRUE(server.log.session(1));
    server.log.session(1)->abort();

    Inbox inbox;
    EXPECT_EQ(pumpUntilFailure(lib, h, inbox), LINK_FAILED_RESULT);
    EXPECT_EQ(lib.callDispatch(h, collect, &inbox), LINK_FAILED_RESULT);
    EXPECT_EQ(lib.transmitClientEvent(h, 0, 1, 0, 1, 0x10), LINK_FAILED_RESULT);
    EXPECT_EQ(lastSendId(lib, h), 1u);
    EXPECT_EQ(lib.close(h), S_OK_RESULT);
    EXPECT_EQ(lib.close(h), E_FAIL_RESULT);
    EXPECT_EQ(lib.callDispatch(h, collect, &inbox), E_FAIL_RESULT);

    HANDLE again = open(server.endpoint());
    EXPECT_EQ(lib.transmitClientEvent(again, 0, 1, 0, 1, 0x10), S_OK_RESULT);
    const auto received = server.log.messages(2, 2);
    ASSERT_EQ(received.size(), 2u);
    EXPECT_TRUE(std::holds_alternative<OpenCall>(received[0].call));
    EXPECT_EQ(received[0].sendId, 1u);
    EXPECT_EQ(received[1].sendId, 2u);
    EXPECT_EQ(lib.close(again), S_OK_RESULT);
    EXPECT_EQ(server.log.closedReason(2), "disconnected");
}

// Two clients at once, each with its own send ids; an exception names the
// offending send id and reaches only its client.
TEST_F(SimnetLink, TwoClientsAtOnceKeepTheirOwnSendIdsAndMessages) {
    TestServer server;
    HANDLE first = open(server.endpoint(), "first");
    ASSERT_TRUE(server.log.session(1));
    HANDLE second = open(server.endpoint(), "second");
    ASSERT_TRUE(server.log.session(2));
    EXPECT_EQ(lib.mapClientEventToSimEvent(second, 1, "AP_MASTER"), S_OK_RESULT);
    EXPECT_EQ(lib.mapClientEventToSimEvent(first, 2, "NO_SUCH_EVENT"), S_OK_RESULT);
    EXPECT_EQ(lib.transmitClientEvent(second, 0, 1, 0, 1, 0x10), S_OK_RESULT);

    const auto ofFirst = server.log.messages(1, 2);
    const auto ofSecond = server.log.messages(2, 3);
    ASSERT_EQ(ofFirst.size(), 2u);
    ASSERT_EQ(ofSecond.size(), 3u);
    EXPECT_EQ(std::get<OpenCall>(ofFirst[0].call).name, "first");
    EXPECT_EQ(std::get<MapClientEventToSimEventCall>(ofFirst[1].call).eventName, "NO_SUCH_EVENT");
    EXPECT_EQ(ofFirst[1].sendId, 2u);
    EXPECT_EQ(std::get<OpenCall>(ofSecond[0].call).name, "second");
    EXPECT_EQ(ofSecond[2].sendId, 3u);

    server.log.session(1)->sendException(SIMCONNECT_EXCEPTION_NAME_UNRECOGNIZED, ofFirst[1].sendId,
                                         2);
    for (std::uint32_t client : {1u, 2u}) {
        server.log.session(client)->send(ServerMessage{kProtocolVersion, RecvQuit{}});
    }
    Inbox atFirst;
    Inbox atSecond;
    pump(lib, first, atFirst, 2);
    pump(lib, second, atSecond, 1);
    ASSERT_EQ(atFirst.messages.size(), 2u);
    const auto* exception =
        reinterpret_cast<const SIMCONNECT_RECV_EXCEPTION*>(atFirst.messages[0].data());
    EXPECT_EQ(exception->dwID, static_cast<DWORD>(SIMCONNECT_RECV_ID_EXCEPTION));
    EXPECT_EQ(exception->dwSendID, 2u);
    EXPECT_EQ(exception->dwIndex, 2u);
    ASSERT_EQ(atSecond.messages.size(), 1u);
    EXPECT_EQ(atSecond.messages[0], recvBytes(RecvQuit{}));
    lib.close(first);
    lib.close(second);
}

// Each kind of garbage closes its sender with a warning; the good client
// is served on.
TEST_F(SimnetLink, GarbageSendersAreClosedWhileOthersGoOn) {
    LogCapture logs;
    TestServer server;
    HANDLE good = open(server.endpoint());
    ASSERT_TRUE(server.log.session(1));

    const auto headerWith = [](std::uint32_t size, std::uint32_t type) {
        ClientMessage message{kProtocolVersion, 2, TransmitClientEventCall{}};
        Bytes bytes = encoded(message);
        bytes.resize(16);
        for (int i = 0; i < 4; ++i) {
            bytes[i] = static_cast<std::uint8_t>(size >> (8 * i));
            bytes[8 + i] = static_cast<std::uint8_t>(type >> (8 * i));
        }
        return bytes;
    };
    Bytes unterminated =
        encoded(ClientMessage{kProtocolVersion, 2, MapClientEventToSimEventCall{1, "X"}});
    std::fill(unterminated.begin() + 20, unterminated.end(), 'A');
    const std::vector<Bytes> garbage = {
        headerWith(0, 0xF0000005u),
        headerWith(0x80000000u, 0xF0000005u),
        headerWith(16, 0xF0000099u),
        headerWith(16, 5),
        headerWith(static_cast<std::uint32_t>(kMaxClientMessageSize + 1), 0xF000003Cu),
        headerWith(40, 0xF0000005u) /* followed by nothing: waits, never decodes */,
        unterminated};
    for (std::size_t i = 0; i < garbage.size(); ++i) {
        std::string error;
        auto raw = platform::connectTcp("127.0.0.1", server.server().port(), platform::IpFamily::V4,
                                        std::chrono::seconds(5), error);
        ASSERT_TRUE(raw) << error;
        ASSERT_TRUE(raw->sendAll(garbage[i].data(), garbage[i].size(), error)) << error;
        std::uint8_t byte = 0;
        std::size_t got = 0;
        const auto result =
            raw->receive(&byte, 1, got, std::chrono::milliseconds(i == 5 ? 200 : 10000));
        if (i == 5) {
            EXPECT_EQ(result,
                      platform::ByteStream::ReadResult::Timeout);  // half a message is no fault
        } else {
            EXPECT_NE(result, platform::ByteStream::ReadResult::Data) << i;
            EXPECT_NE(result, platform::ByteStream::ReadResult::Timeout) << i;
        }
        EXPECT_EQ(lib.transmitClientEvent(good, 0, 1, static_cast<DWORD>(i), 1, 0x10),
                  S_OK_RESULT);
    }
    const auto received = server.log.messages(1, 1 + garbage.size());
    ASSERT_EQ(received.size(), 1 + garbage.size());
    EXPECT_EQ(received.back().sendId, 1 + garbage.size());
    EXPECT_TRUE(logs.waitFor("closed: sent a bad message: string field"));
    EXPECT_EQ(logs.count("closed: sent a bad message"), 6) << logs.dump();
    EXPECT_EQ(logs.count("message size 0 below the minimum 16"), 1) << logs.dump();
    EXPECT_EQ(logs.count("message size 2147483648 above the bound 41088"), 1) << logs.dump();
    EXPECT_EQ(logs.count("unknown call id"), 1) << logs.dump();
    lib.close(good);
}

TEST_F(SimnetLink, AFloodingClientIsClosed) {
    LogCapture logs;
    ManualClock frozen;  // every message falls into the same second
    ServerOptions options;
    options.maxMessagesPerSecond = 20;
    options.clock = &frozen;
    TestServer server(options);
    HANDLE calm = open(server.endpoint());
    HANDLE flood = open(server.endpoint());
    for (int i = 0; i < 19; ++i) {
        EXPECT_EQ(lib.transmitClientEvent(calm, 0, 1, 0, 1, 0x10), S_OK_RESULT);
    }
    for (int i = 0; i < 25; ++i)
        lib.transmitClientEvent(flood, 0, 1, 0, 1, 0x10);
    Inbox inbox;
    EXPECT_EQ(pumpUntilFailure(lib, flood, inbox), LINK_FAILED_RESULT);
    EXPECT_EQ(server.log.messages(1, 20).size(), 20u);
    EXPECT_EQ(server.log.messages(2, 20).size(), 20u);
    EXPECT_TRUE(logs.waitFor("closed: flood: more than 20 messages in a second"));
    EXPECT_EQ(pump(lib, calm, inbox, 0), S_OK_RESULT);
    lib.close(calm);
    lib.close(flood);
}

TEST_F(SimnetLink, OpenFailsWhenNothingListensOrTheNameIsTooLong) {
    std::string error;
    auto listener = platform::listenTcpLoopback(0, error);
    ASSERT_TRUE(listener) << error;
    const std::uint16_t port = listener->port();
    listener.reset();
    lib.setTarget(Endpoint::tcp("127.0.0.1", port));
    HANDLE handle = reinterpret_cast<HANDLE>(1);
    EXPECT_EQ(lib.open(&handle, "CorvaneHID"), E_FAIL_RESULT);
    EXPECT_EQ(handle, nullptr);

    TestServer server;
    lib.setTarget(server.endpoint());
    EXPECT_EQ(lib.open(&handle, std::string(256, 'N').c_str()),
              INSUFFICIENT_BUFFER_RESULT);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(server.server().clientCount(), 0u);
}

// With no address from the program, SimConnect.cfg in the current folder
// names the server.
TEST_F(SimnetLink, OpenFollowsSimConnectCfgInTheCurrentFolder) {
    TestServer server;
    TempDir folder;
    writeFileBytes(folder.file("SimConnect.cfg"),
                   "[SimConnect]\r\nProtocol=IPv4\r\nAddress=127.0.0.1\r\nPort=" +
                       std::to_string(server.server().port()) + "\r\n");
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(platform::toPath(folder.path()));
    lib.setTarget(std::nullopt);
    HANDLE handle = nullptr;
    const HRESULT result = lib.open(&handle, "viaCfg");
    std::filesystem::current_path(previous);
    ASSERT_EQ(result, S_OK_RESULT);
    const auto received = server.log.messages(1, 1);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(std::get<OpenCall>(received[0].call).name, "viaCfg");
    lib.close(handle);
}

// A client that does not dispatch holds back the server, not its memory,
// and loses nothing.
TEST_F(SimnetLink, ASlowClientLosesNothing) {
    TestServer server;
    ClientConnection::Options options;
    options.maxQueuedBytes = 1024;
    std::unique_ptr<ClientConnection> connection;
    std::string error;
    ASSERT_EQ(ClientConnection::open(server.endpoint(), "slow", options, connection, error),
              S_OK_RESULT);
    const auto session = server.log.session(1);
    ASSERT_TRUE(session);
    constexpr std::uint32_t kCount = 300;
    for (std::uint32_t i = 0; i < kCount; ++i) {
        RecvClientData data;
        data.requestId = i;
        data.payload.bytes.assign(256, static_cast<std::uint8_t>(i));
        ASSERT_TRUE(session->send(ServerMessage{kProtocolVersion, data}));
    }
    Inbox inbox;
    ASSERT_TRUE(eventually([&] {
        EXPECT_EQ(connection->callDispatch(collect, &inbox), S_OK_RESULT);
        return inbox.messages.size() >= kCount;
    }));
    ASSERT_EQ(inbox.messages.size(), kCount);
    for (std::uint32_t i = 0; i < kCount; ++i) {
        const auto* data =
            reinterpret_cast<const SIMCONNECT_RECV_CLIENT_DATA*>(inbox.messages[i].data());
        EXPECT_EQ(data->dwRequestID, i);
    }
}

TEST_F(SimnetLink, StoppingTheServerEndsEveryClient) {
    TestServer server;
    HANDLE first = open(server.endpoint());
    HANDLE second = open(server.endpoint());
    ASSERT_TRUE(server.log.session(2));
    server.server().stop();
    server.server().stop();
    EXPECT_EQ(server.server().clientCount(), 0u);
    Inbox inbox;
    EXPECT_EQ(pumpUntilFailure(lib, first, inbox), LINK_FAILED_RESULT);
    EXPECT_EQ(pumpUntilFailure(lib, second, inbox), LINK_FAILED_RESULT);
    EXPECT_EQ(server.log.closedReason(1), "closed by the server");
    lib.close(first);
    lib.close(second);
}

// Idle connections cannot hold every place for long: one that sent no
// Open is closed when its time is up, an opened one is served on. Clients
// beyond the limit are refused with one line, not one each.
TEST_F(SimnetLink, IdleConnectionsAreClosedAndRefusalsAreLoggedOnce) {
    LogCapture logs;
    ManualClock clock;
    const Clock::TimePoint openBy = clock.now() + std::chrono::seconds(10);
    ServerOptions options;
    options.maxClients = 2;
    options.clock = &clock;
    TestServer server(options);
    HANDLE opened = open(server.endpoint());
    ASSERT_EQ(server.log.messages(1, 1).size(), 1u);
    std::string error;
    const auto connect = [&] {
        return platform::connectTcp("127.0.0.1", server.server().port(), platform::IpFamily::V4,
                                    kPatience, error);
    };
    const auto endsWithoutData = [](platform::ByteStream& stream) {
        std::uint8_t byte = 0;
        std::size_t got = 0;
        const auto result = stream.receive(&byte, 1, got, kPatience);
        return result != platform::ByteStream::ReadResult::Data &&
               result != platform::ByteStream::ReadResult::Timeout;
    };
    auto idle = connect();
    ASSERT_TRUE(idle) << error;
    ASSERT_TRUE(server.log.session(2));
    for (int i = 0; i < 3; ++i) {
        auto refused = connect();
        ASSERT_TRUE(refused) << error;
        EXPECT_TRUE(endsWithoutData(*refused)) << i;
    }
    EXPECT_EQ(logs.count("refused a client: 2 clients connected already"), 1) << logs.dump();

    ASSERT_TRUE(clock.waitForWaitUntil(openBy));
    clock.advance(std::chrono::seconds(10));
    EXPECT_TRUE(endsWithoutData(*idle));
    EXPECT_TRUE(logs.waitFor("closed: sent no Open within 10 s")) << logs.dump();
    EXPECT_EQ(logs.count("closed: sent no Open"), 1) << logs.dump();
    ASSERT_TRUE(eventually([&] { return server.server().clientCount() == 1; }));
    auto next = connect();
    ASSERT_TRUE(next) << error;
    EXPECT_TRUE(server.log.session(3));
    EXPECT_EQ(lib.transmitClientEvent(opened, 0, 1, 0, 1, 0x10), S_OK_RESULT);
    EXPECT_EQ(server.log.messages(1, 2).size(), 2u);
    lib.close(opened);
}

// The local pipe (Windows): the same conversation, and the simulator's own
// pipe name when nothing else is configured.
TEST_F(SimnetLink, NamedPipeCarriesTheSameConversation) {
    if (!platform::localPipesAvailable()) GTEST_SKIP() << "no named pipes on this system";
    for (const std::string& name :
         {std::string(R"(\\.\pipe\CorvaneHID test )") + std::to_string(std::random_device()()),
          std::string(kSimulatorPipeName)}) {
        ServerOptions options;
        options.listenTcp = false;
        options.pipeName = name;
        TestServer server(options);
        TempDir emptyFolder;  // no SimConnect.cfg in the current folder
        const auto previous = std::filesystem::current_path();
        std::filesystem::current_path(platform::toPath(emptyFolder.path()));
        if (name == kSimulatorPipeName)
            lib.setTarget(std::nullopt);
        else
            lib.setTarget(Endpoint::pipe(name));
        HANDLE h = nullptr;
        const HRESULT opened = lib.open(&h, "CorvaneHID");
        std::filesystem::current_path(previous);
        ASSERT_EQ(opened, S_OK_RESULT) << name;

        // A second client meanwhile gets its own pipe instance.
        HANDLE other = nullptr;
        ASSERT_EQ(lib.open(&other, "other"), S_OK_RESULT);
        ASSERT_TRUE(server.log.session(2));
        EXPECT_EQ(lib.close(other), S_OK_RESULT);

        EXPECT_EQ(lib.transmitClientEvent(h, 0, 1, 0, 1, 0x10), S_OK_RESULT);
        Bytes big(8192, 'A');
        EXPECT_EQ(lib.setClientData(h, 0x1000, 0x1100, 0, 0, 8192, big.data()), S_OK_RESULT);
        const auto received = server.log.messages(1, 3);
        ASSERT_EQ(received.size(), 3u) << name;
        EXPECT_EQ(std::get<SetClientDataCall>(received[2].call).data.bytes, big);

        const auto session = server.log.session(1);
        std::vector<Bytes> sent;
        for (const WireVector& v : loadWireVectors("s2c")) {
            ServerMessage message;
            ASSERT_EQ(decodeServerMessage(v.bytes.data(), v.bytes.size(), message),
                      CodecError::None);
            session->send(message);
            sent.push_back(v.bytes);
        }
        session->close();
        Inbox inbox;
        EXPECT_EQ(pumpUntilFailure(lib, h, inbox), LINK_FAILED_RESULT) << name;
        EXPECT_EQ(inbox.messages, sent) << name;
        EXPECT_EQ(lib.transmitClientEvent(h, 0, 1, 0, 1, 0x10), LINK_FAILED_RESULT);
        lib.close(h);
    }
}

}  // namespace
