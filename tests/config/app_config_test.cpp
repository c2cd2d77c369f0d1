#include "config/app_config.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "fakes/temp_dir.h"
#include "platform/paths.h"

namespace {

const std::string kHid = "\"hid\":{\"vid\":\"0x2E8A\",\"pid\":\"0x10C0\"}";
const std::string kMappings = "\"mappings\":{\"buttonConfigPath\":\"b.json\"}";

// A valid file with `extra` members appended to the root.
std::string withBase(const std::string& extra) {
    return "{" + kHid + "," + kMappings + (extra.empty() ? "" : "," + extra) + "}";
}

bool load(const std::string& text, AppConfig& config, std::string& error) {
    return loadAppConfigFromText(text, platform::joinPath("panels", "config.json"), config, error);
}

AppConfig loaded(const std::string& text) {
    AppConfig config;
    std::string error;
    EXPECT_TRUE(load(text, config, error)) << error;
    return config;
}

TEST(AppConfig, MinimalFileGetsEveryDefault) {
    const AppConfig config = loaded(withBase(""));
    EXPECT_EQ(config.vid, "0x2E8A");
    EXPECT_EQ(config.readIntervalMs, 2);
    EXPECT_EQ(config.scanIntervalMs, 1000);
    EXPECT_FALSE(config.trace);
    EXPECT_EQ(config.buttonConfigPath, platform::joinPath("panels", "b.json"));
    EXPECT_EQ(config.hidEventMapPath, "");
    EXPECT_TRUE(config.mobiflight.enabled);
    EXPECT_EQ(config.mobiflight.lvarsChannel, "MobiFlight.LVars");
    EXPECT_EQ(config.mobiflight.mapHoldRepeatMs, 10);
    EXPECT_EQ(config.outputs.debounceMs, 50);
    ASSERT_EQ(config.outputs.profiles.size(), 1u);
    const OutputProfile& profile = config.outputs.profiles.at("DEFAULT");
    EXPECT_EQ(profile.backlight.defaultLevel, 80);
    EXPECT_EQ(profile.simDisconnected.effect, "flash");
    EXPECT_EQ(profile.batteryOff.param1, 1000);
    EXPECT_EQ(config.profileFor(nullptr), &profile);
    EXPECT_TRUE(config.devices.empty());
}

TEST(AppConfig, FailureTextsInCheckOrder) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"{\"hid\":{\"vid\":\"1\",\"pid\":\"2\"", "Config parse error: Unterminated object"},
        {"[]", "Config root must be an object"},
        {"{" + kMappings + "}", "Missing 'hid' section"},
        {"{\"hid\":[]," + kMappings + "}", "Missing 'hid' section"},
        {"{\"hid\":{\"vid\":1,\"pid\":\"\"}}", "Missing or invalid 'hid.vid'"},
        {"{\"hid\":{\"vid\":\"\"}}", "Missing or invalid 'hid.pid'"},
        {"{\"hid\":{\"vid\":\"\",\"pid\":\"\"}}", "Missing 'mappings' section"},
        {"{" + kHid + ",\"mappings\":{\"buttonConfigPath\":null}}",
         "Missing or invalid 'mappings.buttonConfigPath'"},
        {"{\"hid\":{\"vid\":\"\",\"pid\":\"\"},\"mappings\":{\"buttonConfigPath\":\"\"}}",
         "hid.vid is required"},
        {"{\"hid\":{\"vid\":\"1\",\"pid\":\"\"},\"mappings\":{\"buttonConfigPath\":\"\"}}",
         "hid.pid is required"},
        {"{" + kHid + ",\"mappings\":{\"buttonConfigPath\":\"\"}}",
         "mappings.buttonConfigPath is required"},
        {withBase("\"mobiflight\":{\"rpnRateLimitMs\":-1,\"mapHoldRepeatMs\":0}"),
         "mobiflight.rpnRateLimitMs must be >= 0"},
        {withBase("\"mobiflight\":{\"mapHoldRepeatMs\":0.9}"),
         "mobiflight.mapHoldRepeatMs must be > 0"},
        {withBase("\"mobiflight\":{\"commandChannel\":\"\",\"lvarsChannel\":\"\"}"),
         "mobiflight.commandChannel is required when enabled"},
        {withBase("\"mobiflight\":{\"enabled\":true,\"responseChannel\":\"\"}"),
         "mobiflight.responseChannel is required when enabled"},
        {withBase("\"mobiflight\":{\"lvarsChannel\":\"\"}"),
         "mobiflight.lvarsChannel is required when enabled"},
        {withBase("\"mobiflight\":{\"clientName\":\"\"}"),
         "mobiflight.clientName is required when enabled"},
        {withBase("\"mobiflight\":{\"clientName\":\"MobiFlight\"}"),
         "mobiflight.clientName must differ from the name of the default channels"},
        {withBase("\"cdc\":{\"enabled\":1},\"outputs\":{\"debounceMs\":-1}"),
         "cdc.comPort is required when cdc.enabled=1"},
        {withBase("\"simulator\":\"10.0.0.2\""), "'simulator' must be an object"},
        {withBase("\"simulator\":{\"address\":10}"), "simulator.address must be a string"},
        {withBase("\"simulator\":{\"address\":\"\"}"), "simulator.address must not be empty"},
        {withBase("\"simulator\":{\"address\":\"10.0.0.2 \"}"),
         "simulator.address must not contain blanks"},
        {withBase("\"simulator\":{\"port\":\"5050\"}"),
         "simulator.port must be a number from 1 to 65535"},
        {withBase("\"simulator\":{\"address\":\"pc\",\"port\":65536}"),
         "simulator.port must be a number from 1 to 65535"},
        {withBase("\"simulator\":{\"port\":0},\"outputs\":{\"debounceMs\":-1}"),
         "simulator.port must be a number from 1 to 65535"},
        {withBase("\"outputs\":{\"debounceMs\":-1}"), "outputs.debounceMs must be >= 0"},
        {withBase("\"devices\":{}"), "'devices' must be an array"},
        {withBase("\"devices\":[{\"index\":0},7]"), "devices[1] must be an object"},
        {withBase("\"devices\":[{\"index\":0},{\"boardId\":\"0x\"}]"),
         "devices[1] must include boardId or index"},
        {withBase("\"devices\":[{\"role\":\"PFD\",\"index\":-1}]"),
         "devices[0] must include boardId or index"},
        {withBase("\"devices\":[{\"boardId\":\"AB\",\"index\":-2}]"),
         "devices[0] index must be >= 0"},
        {withBase("\"devices\":[{\"boardId\":\"AB\",\"index\":3e10}]"),
         "devices[0] index must be >= 0"},
    };
    for (const auto& [text, expected] : cases) {
        AppConfig config;
        std::string error;
        EXPECT_FALSE(load(text, config, error)) << text;
        EXPECT_EQ(error, expected) << text;
    }
}

TEST(AppConfig, SimulatorAddressPortAndExitFlag) {
    const AppConfig none = loaded(withBase(""));
    EXPECT_EQ(none.simulator.address, "");
    EXPECT_EQ(none.simulator.port, 500);
    EXPECT_FALSE(none.simulator.exitWithSimulator.has_value());

    const AppConfig set = loaded(withBase(
        "\"simulator\":{\"address\":\"gaming-pc\",\"port\":5050,\"exitWithSimulator\":1}"));
    EXPECT_EQ(set.simulator.address, "gaming-pc");
    EXPECT_EQ(set.simulator.port, 5050);
    EXPECT_EQ(set.simulator.exitWithSimulator, true);
    // A flag is a number: false leaves it unset.
    EXPECT_FALSE(loaded(withBase("\"simulator\":{\"exitWithSimulator\":false}"))
                     .simulator.exitWithSimulator.has_value());
    EXPECT_EQ(
        loaded(withBase("\"simulator\":{\"exitWithSimulator\":0}")).simulator.exitWithSimulator,
        false);
}

// The client is the user's explicit choice: an unknown one is refused, never
// replaced by the default.
TEST(AppConfig, SimulatorClientIsTheBuiltInOneUnlessTheDllIsNamed) {
    using Client = SimulatorSettings::Client;
    EXPECT_EQ(loaded(withBase("")).simulator.client, Client::BuiltIn);
    EXPECT_EQ(loaded(withBase("\"simulator\":{\"client\":\"simconnect.DLL\"}")).simulator.client,
              Client::SdkLibrary);
    EXPECT_EQ(loaded(withBase("\"simulator\":{\"client\":\"Built-In\"}")).simulator.client,
              Client::BuiltIn);
    for (const char* bad : {"\"SimConnect\"", "1", "true"}) {
        AppConfig config;
        std::string error;
        EXPECT_FALSE(
            load(withBase(std::string("\"simulator\":{\"client\":") + bad + "}"), config, error));
        EXPECT_EQ(error, "simulator.client must be \"built-in\" or \"SimConnect.dll\"") << bad;
    }
}

TEST(AppConfig, ProfileChecksNameTheNormalisedProfileInNameOrder) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"\"backlight\":{\"min\":-1}", "backlight min/max must be between 0-100"},
        {"\"backlight\":{\"max\":101}", "backlight min/max must be between 0-100"},
        {"\"backlight\":{\"min\":60,\"max\":40}", "backlight min/max must be between 0-100"},
        {"\"backlight\":{\"default\":-5}", "backlight default must be between 0-100"},
        {"\"backlight\":{\"value\":101}", "backlight value must be between 0-100"},
        {"\"backlight\":{\"scale\":0}", "backlight scale must be > 0"},
        {"\"simDisconnected\":{\"effect\":\"blink\"}", "simDisconnected.effect is invalid"},
        {"\"batteryOff\":{\"effect\":\"flsh\"}", "batteryOff.effect is invalid"},
    };
    for (const auto& [profile, expected] : cases) {
        const std::string text = withBase(
            "\"outputs\":{\"profiles\":{\"zz\":{\"backlight\":{\"max\":200}},"
            "\" night mode \":{" +
            profile + "}}}");
        AppConfig config;
        std::string error;
        EXPECT_FALSE(load(text, config, error));
        EXPECT_EQ(error, "outputs.profiles[NIGHTMODE]." + expected) << profile;
    }
}

TEST(AppConfig, FlagsAreNumbersAndIntegersTruncate) {
    AppConfig config = loaded(
        withBase("\"mobiflight\":{\"enabled\":0,\"commandChannel\":\"\",\"rpnRateLimitMs\":25.9},"
                 "\"logging\":{\"debug\":0.5},\"cdc\":{\"enabled\":true}"));
    EXPECT_FALSE(config.mobiflight.enabled);
    EXPECT_EQ(config.mobiflight.rpnRateLimitMs, 25);
    EXPECT_FALSE(config.loggingDebug);
    EXPECT_FALSE(config.cdc.enabled);

    config = loaded(
        "{\"hid\":{\"vid\":\"1\",\"pid\":\"2\",\"trace\":-3,\"readIntervalMs\":\"5\","
        "\"scanIntervalMs\":1e12}," +
        kMappings + ",\"mobiflight\":{\"enabled\":true},\"logging\":{\"debug\":2}}");
    EXPECT_TRUE(config.trace);
    EXPECT_TRUE(config.mobiflight.enabled);
    EXPECT_TRUE(config.loggingDebug);
    EXPECT_EQ(config.readIntervalMs, 2);
    EXPECT_EQ(config.scanIntervalMs, std::numeric_limits<std::int32_t>::min());
}

TEST(AppConfig, ProfilesReadEveryKeyAndSecondNamesWin) {
    const AppConfig config = loaded(withBase(
        "\"outputs\":{\"debounceMs\":0,\"defaultProfile\":\"  \",\"profiles\":{"
        "\"day\":{\"backlight\":{\"mode\":\" fixed \",\"min\":5,\"max\":90,\"default\":70,"
        "\"value\":60,\"scale\":0.75},\"simDisconnected\":{\"effect\":\" steady \","
        "\"brightness\":9,\"param0\":1,\"param1\":2,\"param2\":3,\"count\":7,\"periodMs\":300,"
        "\"level\":40},\"batteryOff\":{\"param2\":8}},"
        "\"DAY\":{\"backlight\":{\"min\":1}},\"\":{},\"x\":5}}"));
    EXPECT_EQ(config.outputs.debounceMs, 0);
    EXPECT_EQ(config.outputs.defaultProfile, "DEFAULT");
    ASSERT_EQ(config.outputs.profiles.size(), 2u);  // DAY (the later "day" wins) and DEFAULT
    const OutputProfile& day = config.outputs.profiles.at("DAY");
    EXPECT_EQ(day.backlight.mode, "FIXED");
    EXPECT_EQ(day.backlight.min, 5);
    EXPECT_EQ(day.backlight.defaultLevel, 70);
    EXPECT_EQ(day.backlight.value, 60);
    EXPECT_DOUBLE_EQ(day.backlight.scale, 0.75);
    const LedEffectConfig& off = day.simDisconnected;
    EXPECT_EQ(off.effect, "STEADY");
    EXPECT_EQ(off.brightness, 9);
    EXPECT_EQ(off.param0, 7);
    EXPECT_EQ(off.param1, 300);
    EXPECT_EQ(off.param2, 40);
    EXPECT_EQ(day.batteryOff.effect, "breathe");
    EXPECT_EQ(day.batteryOff.param2, 8);
}

TEST(AppConfig, ProfileForFollowsLedProfileThenRoleThenDefault) {
    const AppConfig config = loaded(withBase(
        "\"outputs\":{\"defaultProfile\":\"day\",\"roleProfiles\":{\" mfd \":\"night\","
        "\"pfd\":\"\",\"\":\"day\",\"x\":1},\"profiles\":{\"night\":{},\"day\":{},\"amber\":{}}},"
        "\"devices\":[{\"boardId\":\"0x e6 61 a4\",\"ledProfile\":\" Night\"},"
        "{\"index\":1,\"role\":\"MFD\"},{\"index\":2,\"ledProfile\":\"missing\"},"
        "{\"boardId\":\"AB\",\"index\":-1,\"role\":\"PFD\"},{\"index\":2,\"role\":\"dup\"}]"));
    const auto& profiles = config.outputs.profiles;
    EXPECT_EQ(config.outputs.roleProfiles, (std::map<std::string, std::string>{{"MFD", "NIGHT"}}));
    ASSERT_EQ(config.devices.size(), 5u);
    EXPECT_EQ(config.devices[0].boardId, "E661A4");
    EXPECT_EQ(config.devices[0].ledProfile, " Night");
    EXPECT_EQ(config.profileFor(&config.devices[0]), &profiles.at("NIGHT"));
    EXPECT_EQ(config.profileFor(&config.devices[1]), &profiles.at("NIGHT"));
    // An undefined name gets the first profile by name, not the default one.
    EXPECT_EQ(config.profileFor(&config.devices[2]), &profiles.at("AMBER"));
    EXPECT_EQ(config.profileFor(&config.devices[3]), &profiles.at("DAY"));
    EXPECT_EQ(config.profileFor(nullptr), &profiles.at("DAY"));
    EXPECT_EQ(AppConfig().profileFor(nullptr), nullptr);

    EXPECT_EQ(config.findDevice("e661a4", 1), &config.devices[0]);
    EXPECT_EQ(config.findDevice("0xAB", -1), &config.devices[3]);
    EXPECT_EQ(config.findDevice("FFFF", 2), &config.devices[2]);  // first entry with the index
    EXPECT_EQ(config.findDevice("", 1), &config.devices[1]);
    EXPECT_EQ(config.findDevice("FFFF", -1), nullptr);
    EXPECT_EQ(config.findDevice("", 7), nullptr);
}

TEST(AppConfig, NameNormalisingAndEffectNames) {
    EXPECT_EQ(normalizeKey(" night\tmode\r\n\v\f"), "NIGHTMODE");
    EXPECT_EQ(normalizeKey("map_left \xC3\xA9"), "MAP_LEFT\xC3\xA9");
    EXPECT_EQ(normalizeBoardId("0x e6 61 a4"), "E661A4");
    EXPECT_EQ(normalizeBoardId(" 0Xab"), "AB");
    EXPECT_EQ(normalizeBoardId("0x"), "");
    EXPECT_EQ(normalizeBoardId("x0ab"), "X0AB");
    for (const char* name : {"off", " Steady ", "BREATHE", "fl ash"}) {
        EXPECT_TRUE(isValidEffectName(name)) << name;
    }
    for (const char* name : {"", "blink", "flashing"})
        EXPECT_FALSE(isValidEffectName(name)) << name;
}

TEST(AppConfig, PathsResolveAgainstTheConfigurationFolder) {
    const std::string config = platform::joinPath("panels", "config.json");
    for (const char* absolute : {"C:\\maps\\e.json", "c:/maps/e.json", "\\\\server\\share\\x.json",
                                 "//server/x.json", ""}) {
        EXPECT_EQ(resolveConfigRelativePath(config, absolute), absolute);
    }
    EXPECT_EQ(resolveConfigRelativePath(config, "maps/e.json"),
              platform::joinPath("panels", "maps/e.json"));
    EXPECT_EQ(resolveConfigRelativePath("config.json", "b.json"), "b.json");
}

TEST(AppConfig, EventMapBesideTheConfigurationIsUsedOnlyWhenPresent) {
    TempDir dir;
    const std::string path = dir.file("config.json");
    writeFileBytes(path, withBase(""));
    AppConfig config;
    std::string error;
    ASSERT_TRUE(loadAppConfig(path, config, error)) << error;
    EXPECT_EQ(config.hidEventMapPath, "");
    EXPECT_EQ(config.buttonConfigPath, dir.file("b.json"));

    writeFileBytes(dir.file("hid_event_map.json"), "{}");
    AppConfig withMap;
    ASSERT_TRUE(loadAppConfig(path, withMap, error)) << error;
    EXPECT_EQ(withMap.hidEventMapPath, dir.file("hid_event_map.json"));

    writeFileBytes(path, "{" + kHid +
                             ",\"mappings\":{\"buttonConfigPath\":\"b.json\","
                             "\"hidEventMapPath\":\"maps/other.json\"}}");
    AppConfig explicitMap;
    ASSERT_TRUE(loadAppConfig(path, explicitMap, error)) << error;
    EXPECT_EQ(explicitMap.hidEventMapPath, dir.file("maps/other.json"));
}

TEST(AppConfig, FileProblemsNameThePath) {
    TempDir dir;
    AppConfig config;
    std::string error;
    EXPECT_FALSE(loadAppConfig(dir.file("absent.json"), config, error));
    EXPECT_EQ(error, "Config file not found: " + dir.file("absent.json"));
    EXPECT_FALSE(loadAppConfig(dir.path(), config, error));
    EXPECT_EQ(error, "Failed to open config file: " + dir.path());
    writeFileBytes(dir.file("bom.json"), "\xEF\xBB\xBF" + withBase("") + "\r\n");
    EXPECT_TRUE(loadAppConfig(dir.file("bom.json"), config, error)) << error;
}

#ifdef _WIN32
TEST(AppConfig, WindowsPathsJoinWithBackslashesAndKeepNetworkRoots) {
    EXPECT_EQ(resolveConfigRelativePath("C:\\panels\\config.json", "maps\\events.json"),
              "C:\\panels\\maps\\events.json");
    EXPECT_EQ(resolveConfigRelativePath("C:\\panels\\config.json", "events.json"),
              "C:\\panels\\events.json");
    EXPECT_EQ(resolveConfigRelativePath("C:\\panels\\config.json", "\\\\server\\share\\x.json"),
              "\\\\server\\share\\x.json");
    EXPECT_EQ(resolveConfigRelativePath("\\\\server\\share\\config.json", "b.json"),
              "\\\\server\\share\\b.json");
    AppConfig config;
    std::string error;
    ASSERT_TRUE(
        loadAppConfigFromText("{" + kHid +
                                  ",\"mappings\":{\"buttonConfigPath\":\"\\\\\\\\srv\\\\b.json\","
                                  "\"hidEventMapPath\":\"maps\\\\events.json\"}}",
                              "C:\\panels\\config.json", config, error))
        << error;
    EXPECT_EQ(config.hidEventMapPath, "C:\\panels\\maps\\events.json");
    EXPECT_EQ(config.buttonConfigPath, "\\\\srv\\b.json");
}
#endif

}  // namespace
