// The shipped examples and the broken-file set under tests/data/config.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>

#include "config/app_config.h"
#include "config/button_config.h"
#include "config/event_map.h"
#include "fakes/log_capture.h"
#include "fakes/temp_dir.h"
#include "platform/paths.h"

namespace {

std::string sourceFile(const std::string& folder, const std::string& name) {
    return platform::joinPath(platform::joinPath(CORVANE_SOURCE_DIR, folder), name);
}

TEST(ConfigFiles, ExamplesLoadTogether) {
    AppConfig config;
    std::string error;
    ASSERT_TRUE(loadAppConfig(sourceFile("examples", "config.json"), config, error)) << error;
    EXPECT_EQ(config.hidEventMapPath, sourceFile("examples", "hid_event_map.json"));
    EventMap map;
    ASSERT_TRUE(map.load(config.hidEventMapPath, error)) << error;
    ButtonConfig buttons;
    ASSERT_TRUE(buttons.load(config.buttonConfigPath, error)) << error;

    // The autopilot buttons sit at the ids the SimConnect fallback knows.
    const std::pair<int, const char*> autopilot[] = {{5, "AP_MASTER"}, {6, "FD"},     {7, "AP_HDG"},
                                                     {8, "AP_ALT"},    {9, "AP_NAV"}, {11, "AP_BC"},
                                                     {12, "AP_APR"},   {13, "AP_VS"}, {16, "FLC"}};
    for (const auto& [id, name] : autopilot) {
        EXPECT_EQ(map.controlName(id), name);
        EXPECT_FALSE(buttons.lookup(name, "PRESS", "PFD").empty()) << name;
    }
    for (const char* name : {"MAP_LEFT", "MAP_RIGHT", "MAP_UP", "MAP_DOWN"}) {
        EXPECT_NE(buttons.lookup(name, "PRESS", "PFD"), buttons.lookup(name, "PRESS", "MFD"));
    }
    EXPECT_FALSE(buttons.lookup("HDG", "CW_FAST", "MFD").empty());
    EXPECT_FALSE(buttons.lookup("NAV_SWAP", "HOLD", "PFD").empty());

    const DeviceConfig* pfd = config.findDevice("E6614103E7452D2F", 0);
    const DeviceConfig* mfd = config.findDevice("0011223344556677", 1);
    ASSERT_TRUE(pfd != nullptr && mfd != nullptr);
    EXPECT_EQ(pfd->role, "PFD");
    EXPECT_EQ(mfd->role, "MFD");
    EXPECT_EQ(config.profileFor(mfd), &config.outputs.profiles.at("NIGHT"));
}

// Every line of expected.txt: "<kind> <file> <text>"; event map and button
// files are reached through <name>.config.json beside them.
TEST(ConfigFiles, EachBrokenFileFailsWithItsText) {
    const std::string folder = sourceFile("tests", platform::joinPath("data", "config"));
    std::istringstream index(readFileBytes(platform::joinPath(folder, "expected.txt")));
    std::set<std::string> kinds;
    std::string line;
    int checked = 0;
    while (std::getline(index, line)) {
        std::istringstream fields(line);
        std::string kind, name, expected;
        fields >> kind >> name >> std::ws;
        std::getline(fields, expected);
        const std::string file = platform::joinPath(folder, name);
        const std::string configFile =
            kind == "config" ? file : file.substr(0, file.size() - 5) + ".config.json";
        AppConfig config;
        std::string error;
        const bool configLoaded = loadAppConfig(configFile, config, error);
        if (kind == "config") {
            EXPECT_FALSE(configLoaded) << name;
        } else if (kind == "eventmap") {
            ASSERT_TRUE(configLoaded) << name << ": " << error;
            ASSERT_EQ(config.hidEventMapPath, file);
            EXPECT_FALSE(EventMap().load(config.hidEventMapPath, error)) << name;
        } else {
            ASSERT_EQ(kind, "buttons");
            ASSERT_TRUE(configLoaded) << name << ": " << error;
            ASSERT_EQ(config.buttonConfigPath, file);
            EXPECT_TRUE(EventMap().load(config.hidEventMapPath, error)) << error;
            EXPECT_FALSE(ButtonConfig().load(config.buttonConfigPath, error)) << name;
        }
        EXPECT_EQ(error, expected) << name;
        kinds.insert(kind);
        ++checked;
    }
    EXPECT_EQ(kinds.size(), 3u);
    EXPECT_GE(checked, 30);
}

// The first of two equal keys is used, and the user learns which key in
// which file, once per key.
TEST(ConfigFiles, DuplicateKeysAreWarnedOnceNamingKeyAndFile) {
    LogCapture log;
    TempDir dir;
    const std::string path = dir.file("buttons.json");
    writeFileBytes(path,
                   "{\"buttons\": [{\"name\": \"A\", \"name\": \"B\", \"commands\": {}},"
                   " {\"name\": \"C\", \"name\": \"D\"}], \"buttons\": 5}");
    ButtonConfig buttons;
    std::string error;
    ASSERT_TRUE(buttons.load(path, error)) << error;
    EXPECT_TRUE(buttons.hasControl("A"));
    EXPECT_EQ(log.messages("WARN"),
              (std::vector<std::string>{
                  "Duplicate key 'name' in " + path + "; the first one is used",
                  "Duplicate key 'buttons' in " + path + "; the first one is used"}));
}

// "--config" may name anything: what is not a small regular file is
// refused with the reason, never read whole or waited for.
TEST(ConfigFiles, OnlySmallRegularFilesAreRead) {
    TempDir dir;
    AppConfig config;
    std::string error;
    writeFileBytes(dir.file("big.json"), "{" + std::string(5 * 1024 * 1024, ' ') + "}");
    EXPECT_FALSE(loadAppConfig(dir.file("big.json"), config, error));
    EXPECT_EQ(error, "Failed to open config file: " + dir.file("big.json") +
                         " (larger than 4 MiB)");
#ifndef _WIN32
    ButtonConfig buttons;
    EXPECT_FALSE(buttons.load("/dev/zero", error));
    EXPECT_EQ(error, "Failed to open button config: /dev/zero (not a regular file)");
    ASSERT_EQ(std::system(("mkfifo '" + dir.file("fifo") + "'").c_str()), 0);
    EventMap map;
    EXPECT_FALSE(map.load(dir.file("fifo"), error));
    EXPECT_EQ(error, "Failed to open event map: " + dir.file("fifo") + " (not a regular file)");
#endif
}

}  // namespace
