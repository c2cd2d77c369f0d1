// The program's SimConnect client (over the network client, as the Linux
// program links it) and --check's probe against a server on 127.0.0.1 that
// writes whatever bytes it likes: floods of open answers and exceptions,
// text that would forge log lines, a stream that is not SimConnect.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "dispatch_helpers.h"
#include "fakes/log_capture.h"
#include "fakes/test_clocks.h"
#include "platform/stream_transport.h"
#include "sim/simconnect_client.h"
#include "simnet/codec.h"
#include "simnet/endpoint.h"
#include "simnet/server_probe.h"

namespace {

using namespace simnet;
using namespace simnet_test;
using namespace std::chrono;

// Text that would start a forged line and clear a terminal.
const char kForgingName[] = "Sim\n2026-01-01 00:00:00 [ERROR] FORGED\x1b[2J";
const char kForgingNameShown[] = "Sim\\x0A2026-01-01 00:00:00 [ERROR] FORGED\\x1B[2J";

Bytes encoded(const Recv& body) {
    Bytes bytes;
    ServerMessage message;
    message.body = body;
    EXPECT_EQ(encodeServerMessage(message, bytes), CodecError::None);
    return bytes;
}

Bytes openAnswer(const std::string& name = "KittyHawk") {
    RecvOpen open;
    open.applicationName = name;
    open.applicationVersionMajor = 11;
    return encoded(open);
}

Bytes exceptionFor(std::uint32_t exception) {
    RecvException body;
    body.exception = exception;
    body.sendId = 999999;  // no call the client made
    return encoded(body);
}

Bytes repeated(const Bytes& one, int times) {
    Bytes all;
    for (int i = 0; i < times; ++i)
        all.insert(all.end(), one.begin(), one.end());
    return all;
}

void append(Bytes& to, const Bytes& more) {
    to.insert(to.end(), more.begin(), more.end());
}

// Accepts clients one after the other on 127.0.0.1 and answers the n-th
// (from 0) with the bytes script(n) gives, once it has read the client's
// first bytes (its Open); then holds the connection until the client ends
// it. An empty script answer sends nothing.
class HostileServer {
public:
    using Script = std::function<Bytes(int connection)>;

    explicit HostileServer(Script script) : script_(std::move(script)) {
        std::string error;
        listener_ = platform::listenTcpLoopback(0, error);
        EXPECT_TRUE(listener_) << error;
        if (listener_) thread_ = std::thread([this] { serve(); });
    }
    ~HostileServer() {
        stopping_ = true;
        if (listener_) listener_->cancel();
        if (thread_.joinable()) thread_.join();
    }

    Endpoint endpoint() const {
        return Endpoint::tcp("127.0.0.1", listener_ ? listener_->port() : 0,
                             platform::IpFamily::V4);
    }

private:
    void serve() {
        for (int n = 0; !stopping_; ++n) {
            std::unique_ptr<platform::ByteStream> stream;
            if (listener_->accept(stream, milliseconds(50)) !=
                platform::StreamListener::AcceptResult::Accepted) {
                if (stopping_) return;
                --n;
                continue;
            }
            talk(*stream, script_(n));
        }
    }
    void talk(platform::ByteStream& stream, const Bytes& answer) {
        std::uint8_t chunk[4096];
        std::size_t got = 0;
        if (!receiveSome(stream, chunk, sizeof chunk, got)) return;
        std::string error;
        if (!answer.empty() && !stream.sendAll(answer.data(), answer.size(), error)) return;
        while (receiveSome(stream, chunk, sizeof chunk, got)) {
        }
    }
    bool receiveSome(platform::ByteStream& stream, std::uint8_t* chunk, std::size_t size,
                     std::size_t& got) {
        for (;;) {
            const auto result = stream.receive(chunk, size, got, milliseconds(50));
            if (result == platform::ByteStream::ReadResult::Data) return true;
            if (result != platform::ByteStream::ReadResult::Timeout || stopping_) return false;
        }
    }

    Script script_;
    std::unique_ptr<platform::StreamListener> listener_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

// The program's client, pointed at the server as simulator.address points
// it, on a clock whose waits take no real time.
class HostileServerTest : public ::testing::Test {
protected:
    void TearDown() override { client.stop(); }

    void startAgainst(const HostileServer& server) {
        library.setTarget(server.endpoint());
        client.setSimulatorPolicy({false, false});
        std::string error;
        ASSERT_TRUE(client.start("CorvaneHID", {}, {}, error)) << error;
    }

    // At most 100 lines a minute of the clock, as a flood must leave it.
    void expectCalmLog() {
        const auto minutes = duration_cast<std::chrono::minutes>(clock.now() - started) + 1min;
        EXPECT_LE(log.lines().size(), static_cast<std::size_t>(100 * minutes.count()))
            << log.dump();
    }

    LogCapture log;
    ManualClock clock{ManualClock::Mode::Step};
    const Clock::TimePoint started = clock.now();
    simnet_test::TargetedLibrary library;
    SimConnectClient client{library, clock, [] { return true; }};
};

TEST_F(HostileServerTest, AnOpenFloodOpensOneSessionAndForgesNoLine) {
    HostileServer server([](int n) {
        if (n > 0) return Bytes{};
        Bytes flood = repeated(openAnswer(kForgingName), 5000);
        append(flood, encoded(RecvQuit{}));
        return flood;
    });
    startAgainst(server);
    ASSERT_TRUE(log.waitFor("SimConnect disconnected: SimConnect quit")) << log.dump();

    EXPECT_EQ(log.count("SimConnect session opened: " + std::string(kForgingNameShown) + " 11.0"),
              1);
    EXPECT_EQ(log.count("SimConnect session opened"), 1);
    EXPECT_EQ(log.count("SimConnect connected"), 1);
    EXPECT_EQ(log.count("SimConnect server answered the open again; ignored"), 1);
    EXPECT_EQ(log.count("FORGED"), 1);
    for (const std::string& line : log.lines())
        EXPECT_EQ(line.find('\x1b'), std::string::npos) << line;
    expectCalmLog();
}

// 300 different exceptions on one connection use up its budget; the next
// connection's first exception is logged all the same.
TEST_F(HostileServerTest, AnExceptionFloodIsBudgetedPerConnection) {
    HostileServer server([](int n) {
        Bytes answer = openAnswer();
        if (n == 0) {
            for (std::uint32_t i = 0; i < 300; ++i)
                append(answer, exceptionFor(1000 + i));
        } else if (n == 1) {
            append(answer, exceptionFor(5000));
        } else {
            return Bytes{};
        }
        append(answer, encoded(RecvQuit{}));
        return answer;
    });
    startAgainst(server);
    ASSERT_TRUE(log.waitFor("SimConnect exception exception 5000 for an unknown call"))
        << log.dump();

    EXPECT_EQ(log.count("SimConnect exception exception 1"), 256);
    EXPECT_EQ(log.count("different exceptions on this connection"), 1);
    EXPECT_EQ(log.count("SimConnect exception"), 257);
}

TEST_F(HostileServerTest, AStreamThatIsNotSimConnectIsNamedOnce) {
    HostileServer server([](int n) {
        if (n > 0) return Bytes{};
        Bytes answer = openAnswer();
        append(answer, Bytes{0x00, 0x00, 0x00, 0x80, 0x01, 0x00, 0x00, 0x00});
        return answer;
    });
    startAgainst(server);
    ASSERT_TRUE(log.waitFor("dispatch error")) << log.dump();
    EXPECT_EQ(log.count("ended: the server sent something that is not SimConnect: message size "
                        "2147483648 above the bound 65536"),
              1)
        << log.dump();
}

TEST(HostileServerProbe, CheckSaysWhatTheServerSentAndShowsItsNameSafely) {
    HostileServer garbage([](int) { return Bytes{0x00, 0x00, 0x00, 0x80}; });
    const ProbeResult broken = probeServer(garbage.endpoint(), "check", seconds(5));
    EXPECT_EQ(broken.outcome, ProbeResult::Outcome::NotSimConnect);
    EXPECT_EQ(broken.detail,
              "the server sent something that is not SimConnect: message size 2147483648 above "
              "the bound 65536");

    HostileServer forging([](int) { return openAnswer(kForgingName); });
    const ProbeResult answered = probeServer(forging.endpoint(), "check", seconds(5));
    ASSERT_EQ(answered.outcome, ProbeResult::Outcome::Answered);
    EXPECT_EQ(describeApplication(answered.open),
              std::string(kForgingNameShown) + " 11.0 (build 0.0)");
}

}  // namespace
