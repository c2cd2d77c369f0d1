// Where SimConnect_Open connects: the program's address, SimConnect.cfg,
// the local pipe.

#include <gtest/gtest.h>

#include "fakes/temp_dir.h"
#include "platform/paths.h"
#include "simnet/endpoint.h"
#include "simnet/wire_protocol.h"

namespace {

using namespace simnet;

std::optional<Endpoint> fromFiles(const std::vector<std::string>& texts, std::uint32_t index = 0,
                                  bool pipes = false) {
    return resolveEndpoint(std::nullopt, texts, index, pipes);
}

TEST(SimConnectCfg, SectionPerConfigIndexWithTheLibrarysReadingRules) {
    const std::string text =
        "; comment\r\n"
        "[SimConnect.0]\r\nProtocol=IPv4\r\nAddress=10.0.0.9\r\nPort=1\r\n"
        "[ simconnect ]\r\n  PROTOCOL = ipv4 \r\naddress=\"192.168.1.20\"\r\nPort=500\r\n"
        "Port=501\r\nnot a key\r\n"
        "[SimConnect.2]\r\nProtocol=IPv6\r\nAddress=::1\r\nPort=502\r\n"
        "[SimConnect]\r\nPort=503\r\n";
    // [SimConnect.0] does not serve index 0; the first key and the first
    // section of a name win; names ignore case; quotes and blanks go.
    const auto zero = fromFiles({text});
    ASSERT_TRUE(zero);
    EXPECT_EQ(zero->transport, Endpoint::Transport::Tcp);
    EXPECT_EQ(zero->address, "192.168.1.20");
    EXPECT_EQ(zero->port, 500);
    EXPECT_EQ(zero->family, platform::IpFamily::V4);

    const auto two = fromFiles({text}, 2);
    ASSERT_TRUE(two);
    EXPECT_EQ(two->describe(), "[::1]:502");
    EXPECT_EQ(two->family, platform::IpFamily::V6);
    EXPECT_FALSE(fromFiles({text}, 3));
}

TEST(SimConnectCfg, LaterFilesOverrideKeyByKey) {
    const std::string documents = "[SimConnect]\nProtocol=IPv4\nAddress=127.0.0.1\nPort=1\n";
    const std::string current = "[SimConnect]\nPort=4711\n";
    const auto endpoint = fromFiles({documents, current});
    ASSERT_TRUE(endpoint);
    EXPECT_EQ(endpoint->describe(), "127.0.0.1:4711");
    EXPECT_EQ(fromFiles({current, documents})->port, 1);
}

TEST(SimConnectCfg, IncompleteOrOtherSettingsNameNoTcpEndpoint) {
    for (const char* text :
         {"", "[SimConnect]\nProtocol=Pipe\nAddress=a\nPort=5\n",
          "[SimConnect]\nAddress=a\nPort=5\n", "[SimConnect]\nProtocol=IPv4\nPort=5\n",
          "[SimConnect]\nProtocol=IPv4\nAddress=a\n",
          "[SimConnect]\nProtocol=IPv4\nAddress=a\nPort=0\n",
          "[SimConnect]\nProtocol=IPv4\nAddress=a\nPort=65536\n",
          "[SimConnect]\nProtocol=IPv4\nAddress=a\nPort=500x\n",
          "[SimConnect]\nProtocol=IPv4\nAddress=a\nPort=-5\n"}) {
        std::string why;
        EXPECT_FALSE(endpointFromCfg({parseSimConnectCfg(text, 0)}, why)) << text;
        EXPECT_FALSE(why.empty());
    }
}

TEST(EndpointResolution, ProgramAddressThenCfgThenPipeThenNothing) {
    const std::string cfg = "[SimConnect]\nProtocol=IPv4\nAddress=127.0.0.1\nPort=600\n";
    const Endpoint configured = Endpoint::tcp("10.1.1.1", 700);
    EXPECT_EQ(resolveEndpoint(configured, {cfg}, 0, true)->describe(), "10.1.1.1:700");
    EXPECT_EQ(resolveEndpoint(std::nullopt, {cfg}, 0, true)->describe(), "127.0.0.1:600");
    const auto pipe = resolveEndpoint(std::nullopt, {"[SimConnect]\nPort=600\n"}, 0, true);
    ASSERT_TRUE(pipe);
    EXPECT_EQ(pipe->transport, Endpoint::Transport::Pipe);
    EXPECT_EQ(pipe->pipeName, kSimulatorPipeName);
    // Linux: nothing configured means no simulator.
    EXPECT_FALSE(resolveEndpoint(std::nullopt, {}, 0, false));
}

// The program's own folder comes last, so its file's keys win; a file the
// program found but that names no address says why.
TEST(EndpointResolution, TheProgramsFolderWinsAndFoundFilesSayWhyTheyNameNothing) {
    TempDir program;
    writeFileBytes(program.file("SimConnect.cfg"), "[SimConnect]\n");
    const std::vector<std::string> paths = programCfgPaths(program.path());
    EXPECT_EQ(paths.size(), simConnectCfgPaths().size() + 1);
    const std::vector<CfgFile> read = readCfgFiles(paths);
    ASSERT_FALSE(read.empty());
    EXPECT_EQ(read.back().path, program.file("SimConnect.cfg"));
    EXPECT_EQ(read.back().text, "[SimConnect]\n");

    const std::vector<CfgFile> files = {
        {"documents", "[SimConnect]\nProtocol=IPv4\nAddress=10.0.0.5\nPort=500\n"},
        {"beside", "[SimConnect]\nPort=5050\n"}};
    EndpointChoice choice = chooseEndpoint(std::nullopt, files, 0, false);
    EXPECT_EQ(choice.source, EndpointChoice::Source::Cfg);
    EXPECT_EQ(choice.endpoint->describe(), "10.0.0.5:5050");
    EXPECT_EQ(choice.cfgPaths, (std::vector<std::string>{"documents", "beside"}));
    EXPECT_EQ(choice.cfgProblem, "");

    choice = chooseEndpoint(std::nullopt, {{"beside", "[SimConnect]\nPort=http\n"}}, 0, true);
    EXPECT_EQ(choice.source, EndpointChoice::Source::LocalPipe);
    EXPECT_EQ(choice.cfgProblem, "Protocol '' is not IPv4 or IPv6");
    EXPECT_EQ(chooseEndpoint(std::nullopt, {}, 0, false).source, EndpointChoice::Source::None);
    EXPECT_EQ(chooseEndpoint(std::nullopt, {}, 0, false).cfgProblem, "");
    choice = chooseEndpoint(Endpoint::tcp("pc", 500), files, 0, true);
    EXPECT_EQ(choice.source, EndpointChoice::Source::Configured);
    EXPECT_TRUE(choice.cfgPaths.empty());  // not even looked at
}

}  // namespace
