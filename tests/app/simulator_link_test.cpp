// Where the program connects and what the simulator's end means, by the
// SimConnect library it is linked with and its settings; --check asking a
// simulator address on loopback.
#include "app/simulator_link.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "app/program_check.h"
#include "fakes/temp_dir.h"
#include "platform/paths.h"
#include "platform/stream_transport.h"
#include "sim/simconnect_sdk_library.h"
#include "simnet/server.h"

namespace {

using Source = simnet::EndpointChoice::Source;

SimulatorSettings at(const std::string& address) {
    SimulatorSettings settings;
    settings.address = address;
    return settings;
}

const std::vector<simnet::CfgFile> kCfg = {
    {"SimConnect.cfg", "[SimConnect]\nProtocol=IPv4\nAddress=10.0.0.7\nPort=5050\n"}};

TEST(SimulatorLinkTest, OnlyTheNetworkClientOverTcpIsRemote) {
    struct Case {
        const char* what;
        SimulatorSettings settings;
        SimConnectProvider provider;
        std::vector<simnet::CfgFile> cfg;
        bool pipes;
        Source source;
        bool remote;
        bool exits;
    };
    SimulatorSettings stays = at("10.0.0.2");
    stays.exitWithSimulator = true;
    SimulatorSettings localStays;
    localStays.exitWithSimulator = false;
    const SimulatorSettings none;
    const std::vector<Case> cases = {
        {"address, network client", at("10.0.0.2"), SimConnectProvider::NetworkClient, kCfg, true,
         Source::Configured, true, false},
        {"address and exitWithSimulator",
         stays,
         SimConnectProvider::NetworkClient,
         {},
         false,
         Source::Configured,
         true,
         true},
        {"cfg, network client", none, SimConnectProvider::NetworkClient, kCfg, true, Source::Cfg,
         true, false},
        {"nothing, Windows",
         none,
         SimConnectProvider::NetworkClient,
         {},
         true,
         Source::LocalPipe,
         false,
         true},
        {"nothing, Linux",
         none,
         SimConnectProvider::NetworkClient,
         {},
         false,
         Source::None,
         false,
         true},
        {"address, SDK library", at("10.0.0.2"), SimConnectProvider::SdkLibrary, kCfg, true,
         Source::None, false, true},
        {"local, exitWithSimulator 0",
         localStays,
         SimConnectProvider::SdkLibrary,
         {},
         true,
         Source::None,
         false,
         false},
        {"emulator", none, SimConnectProvider::Emulator, kCfg, false, Source::None, false, true},
    };
    for (const Case& c : cases) {
        const SimulatorLinkPlan plan = planSimulatorLink(c.settings, c.provider, c.cfg, c.pipes);
        EXPECT_EQ(plan.choice.source, c.source) << c.what;
        EXPECT_EQ(plan.remote, c.remote) << c.what;
        EXPECT_EQ(plan.policy.localProcess, !c.remote) << c.what;
        EXPECT_EQ(plan.policy.exitWithSimulator, c.exits) << c.what;
    }
    SimulatorSettings port = at("gaming-pc");
    port.port = 5050;
    EXPECT_EQ(describeSimulatorAddress(
                  planSimulatorLink(port, SimConnectProvider::NetworkClient, {}, false)),
              "gaming-pc:5050, set by simulator.address");
    EXPECT_EQ(describeSimulatorAddress(
                  planSimulatorLink({}, SimConnectProvider::NetworkClient, kCfg, false)),
              "10.0.0.7:5050, named by SimConnect.cfg");
}

// A server on loopback that answers Open as the simulator does, says
// nothing, or hangs up.
class Simulator : public simnet::ClientHandler {
public:
    enum class Manner { Answers, Silent, HangsUp };
    Simulator(std::shared_ptr<simnet::ServerSession> session, Manner manner)
        : session_(std::move(session)), manner_(manner) {}
    void onMessage(const simnet::ClientMessage&) override {
        if (manner_ == Manner::HangsUp) session_->close();
        if (manner_ != Manner::Answers) return;
        simnet::RecvOpen open;
        open.applicationName = "KittyHawk";
        open.applicationVersionMajor = 11;
        open.applicationBuildMajor = 282174;
        open.applicationBuildMinor = 999;
        session_->send({simnet::kProtocolVersion, open});
    }

private:
    std::shared_ptr<simnet::ServerSession> session_;
    Manner manner_;
};

class SimulatorAddressCheckTest : public ::testing::Test {
protected:
    std::uint16_t serve(Simulator::Manner manner) {
        server_ = std::make_unique<simnet::Server>([manner](auto session) {
            return std::make_unique<Simulator>(std::move(session), manner);
        });
        std::string error;
        EXPECT_TRUE(server_->start(error)) << error;
        return server_->port();
    }
    std::vector<std::string> check(std::uint16_t port) {
        context.config.simulator = at("127.0.0.1");
        context.config.simulator.port = port;
        std::vector<std::string> lines;
        for (const Finding& finding : checkSimulatorAddress(context))
            lines.push_back(formatCheckLine("Simulator address", finding));
        return lines;
    }

    TempDir folder;
    CheckContext context = [this] {
        CheckContext c;
        c.executablePath = folder.file("corvanehid");
        c.configLoaded = true;
        c.simulatorAnswerTimeout = std::chrono::milliseconds(300);
        return c;
    }();
    std::unique_ptr<simnet::Server> server_;
};

TEST_F(SimulatorAddressCheckTest, SaysWhetherTheAddressAnswersAsASimulator) {
    const std::string where = "Simulator address: 127.0.0.1:";
    std::uint16_t port = serve(Simulator::Manner::Answers);
    EXPECT_EQ(check(port),
              std::vector<std::string>{"OK   " + where + std::to_string(port) +
                                       ", set by simulator.address, answers: KittyHawk 11.0 (build "
                                       "282174.999)"});
    port = serve(Simulator::Manner::Silent);
    EXPECT_EQ(check(port).at(0).rfind("FAIL " + where + std::to_string(port) +
                                          ", set by simulator.address, accepted the connection "
                                          "but gave no SimConnect answer within 1 s; ",
                                      0),
              0u)
        << check(port).at(0);
    port = serve(Simulator::Manner::HangsUp);
    EXPECT_NE(check(port).at(0).find(", ended the connection without a SimConnect answer; "),
              std::string::npos);
    server_->stop();  // nothing listens there any more
    const std::string unreachable = check(port).at(0);
    EXPECT_EQ(unreachable.rfind("FAIL " + where + std::to_string(port) +
                                    ", set by simulator.address, does not answer (",
                                0),
              0u)
        << unreachable;
    EXPECT_NE(unreachable.find("lets TCP port " + std::to_string(port) + " in"), std::string::npos);
}

// Without an address the built-in client would take the simulator's pipe
// (Windows): nothing serves it here, which is a warning, not a failure.
TEST_F(SimulatorAddressCheckTest, WithoutAnAddressThePipeIsAskedAndTheSdkLibraryIsNot) {
    context.config.simulator = {};
    const std::vector<Finding> local = checkSimulatorAddress(context);
    const std::size_t pipeRows = platform::localPipesAvailable() ? 1 : 0;
    ASSERT_EQ(local.size(), pipeRows);
    if (pipeRows) {
        EXPECT_EQ(local[0].verdict, Verdict::Warn);
        EXPECT_NE(local[0].text.find(": the simulator is not running, or does not accept "
                                     "clients: "),
                  std::string::npos)
            << local[0].text;
    }
    writeFileBytes(folder.file("SimConnect.cfg"), "[SimConnect]\nProtocol=IPv4\nAddress=pc\n");
    const std::vector<Finding> cfg = checkSimulatorAddress(context);
    ASSERT_EQ(cfg.size(), 1u + pipeRows);
    EXPECT_EQ(cfg[0].verdict, Verdict::Warn);
    EXPECT_NE(cfg[0].text.find(folder.file("SimConnect.cfg") +
                               " name no simulator address (Port '' is not a number"),
              std::string::npos)
        << cfg[0].text;

    context.config.simulator = at("10.0.0.2");
    context.config.simulator.client = SimulatorSettings::Client::SdkLibrary;
    const std::vector<Finding> sdk = checkSimulatorAddress(context);
    ASSERT_EQ(sdk.size(), 1u);
    EXPECT_EQ(sdk[0].verdict, Verdict::Warn);
    EXPECT_EQ(sdk[0].text.rfind("simulator.address 10.0.0.2 is set, but simulator.client is "
                                "SimConnect.dll, which reads the simulator's address from "
                                "SimConnect.cfg instead; remove simulator.client",
                                0),
              0u);
}

// The configuration chooses the SimConnect when the program runs; a
// SimConnect.dll asked for but missing or incomplete is an error that
// names the file, never a quiet switch to the built-in client.
TEST(SimConnectChoiceTest, TheConfigurationChoosesTheClientAndABadDllIsAnError) {
    TempDir folder;
    SimulatorSettings settings = at("10.0.0.2");
    std::string error;
    SimulatorLinkPlan plan = planSimulatorLink(settings, configuredProvider(settings), {}, false);
    std::unique_ptr<simconnect::Library> library =
        makeSimConnectLibrary(plan, folder.path(), error);
    ASSERT_NE(library, nullptr) << error;
    EXPECT_EQ(library->describe(), "built-in client, TCP 10.0.0.2:500");

    settings.client = SimulatorSettings::Client::SdkLibrary;
    plan = planSimulatorLink(settings, configuredProvider(settings), {}, false);
    EXPECT_EQ(plan.provider, SimConnectProvider::SdkLibrary);
    const std::string dll = simconnect::sdkLibraryFileName();
    EXPECT_EQ(makeSimConnectLibrary(plan, folder.path(), error), nullptr);
    EXPECT_EQ(error.rfind(dll + " not found beside the program (" + folder.file(dll) +
                              ") nor on the system's search path; copy SimConnect.dll from the "
                              "simulator SDK's folder",
                          0),
              0u)
        << error;

    std::filesystem::copy_file(
        platform::toPath(platform::joinPath(CORVANE_INCOMPLETE_SIMCONNECT_DIR, dll)),
        platform::toPath(folder.file(dll)));
    EXPECT_EQ(makeSimConnectLibrary(plan, folder.path(), error), nullptr);
    EXPECT_NE(error.find(" lacks SimConnect_Close, SimConnect_CallDispatch, "), std::string::npos)
        << error;
    EXPECT_NE(error.find(", so it is not the simulator's; copy SimConnect.dll"), std::string::npos);
}

}  // namespace
