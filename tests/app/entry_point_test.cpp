#include "app/entry_point.h"

#include <gtest/gtest.h>

#include "fakes/temp_dir.h"
#include "platform/paths.h"

namespace {

TEST(CommandLineTest, RecognisesEveryOptionAndIgnoresTheRest) {
    const CommandLine options = parseCommandLine(
        {"--console", "--hid-trace", "--register", "--unregister", "--list-exe-xml", "--check",
         "--CONSOLE", "-console", "stray", "--config", "a.json"});
    EXPECT_TRUE(options.consoleMode);
    EXPECT_TRUE(options.hidTrace);
    EXPECT_TRUE(options.doRegister);
    EXPECT_TRUE(options.doUnregister);
    EXPECT_TRUE(options.listExeXml);
    EXPECT_TRUE(options.check);
    EXPECT_EQ(options.configPath, "a.json");

    const CommandLine none = parseCommandLine({"--Console", "--config=x", "console"});
    EXPECT_FALSE(none.consoleMode);
    EXPECT_TRUE(none.configPath.empty());
}

TEST(CommandLineTest, ConfigTakesTheNextArgumentAndTheLastOneWins) {
    // The value after --config is never read as an option.
    const CommandLine options = parseCommandLine({"--config", "--console", "--config", "b.json"});
    EXPECT_EQ(options.configPath, "b.json");
    EXPECT_FALSE(options.consoleMode);

    // A trailing --config is ignored and keeps the earlier value.
    EXPECT_EQ(parseCommandLine({"--config", "first.json", "--config"}).configPath, "first.json");
    EXPECT_EQ(parseCommandLine({"--console", "--config"}).configPath, "");
}

TEST(DefaultConfigPathTest, PrefersTheConfigFolderBesideTheExecutable) {
    TempDir exeDir;
    TempDir appData;
    const std::string exe = exeDir.file("CorvaneHID.exe");
    const std::string besideExe =
        platform::joinPath(platform::joinPath(exeDir.path(), "config"), "config.json");
    const std::string machineWide =
        platform::joinPath(platform::joinPath(appData.path(), "Corvane"), "config.json");

    // Absent beside the executable: the machine-wide path, even though it does not exist.
    EXPECT_EQ(defaultConfigPath(exe, appData.path()), machineWide);

    std::filesystem::create_directories(platform::toPath(platform::parentPath(besideExe)));
    writeFileBytes(besideExe, "{}");
    EXPECT_EQ(defaultConfigPath(exe, appData.path()), besideExe);
}

TEST(DefaultConfigPathTest, FallsBackToTheRelativeCandidate) {
    const std::string relative = platform::joinPath("config", "config.json");
    EXPECT_EQ(defaultConfigPath("", ""), relative);
    TempDir exeDir;
    const std::string besideExe =
        platform::joinPath(platform::joinPath(exeDir.path(), "config"), "config.json");
    EXPECT_EQ(defaultConfigPath(exeDir.file("CorvaneHID.exe"), ""), besideExe);
}

TEST(RegistrationArgumentsTest, QuotesTheFullConfigurationPath) {
    TempDir dir;
    const std::string absolute = dir.file("config.json");
    EXPECT_EQ(registrationArguments(absolute), "--config \"" + absolute + "\"");
    EXPECT_EQ(registrationArguments(""), "--config \"\"");

    // A relative path is registered as the full path it names from here.
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(platform::toPath(dir.path()));
    const std::string relative = platform::joinPath("panels", "config.json");
    const std::string expected =
        platform::joinPath(platform::joinPath(dir.path(), "panels"), "config.json");
    const std::string got = registrationArguments(relative);
    std::filesystem::current_path(before);
    EXPECT_EQ(got, "--config \"" + expected + "\"");
}

}  // namespace
