#include "config/button_config.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "fakes/temp_dir.h"

namespace {

ButtonConfig loaded(const std::string& text) {
    ButtonConfig config;
    std::string error;
    EXPECT_TRUE(config.loadFromText(text, error)) << error;
    return config;
}

TEST(ButtonConfig, LookupFallsBackToDefaultPerAction) {
    const ButtonConfig config = loaded(
        "{\"buttons\":[{\"name\":\" map left "
        "\",\"commands\":{\"press\":{\"PFD\":\"P\",\"MFD\":\"M\"},"
        "\"HOLD\":{\"DEFAULT\":\"H\"},\"RELEASE\":{\"pfd\":\"R\"},\"CW\":{\"\":\"X\",\"MFD\":5}}}]"
        "}");
    EXPECT_EQ(config.lookup("MAP_LEFT", "PRESS", "mfd"), "");  // name normalises to MAPLEFT
    EXPECT_EQ(config.lookup("mapleft", "PRESS", " mfd"), "M");
    EXPECT_EQ(config.lookup("MAPLEFT", "PRESS", "PFD"), "P");
    EXPECT_EQ(config.lookup("MAPLEFT", "PRESS", ""), "");
    EXPECT_EQ(config.lookup("MAPLEFT", "HOLD", "PFD"), "H");
    EXPECT_EQ(config.lookup("MAPLEFT", "RELEASE", "MFD"), "");  // no DEFAULT for this action
    EXPECT_EQ(config.lookup("MAPLEFT", "RELEASE", "PFD"), "R");
    EXPECT_EQ(config.lookup("MAPLEFT", "CW", "MFD"), "X");  // "" stored as DEFAULT, 5 skipped
    EXPECT_EQ(config.lookup("MAPLEFT", "CCW", "PFD"), "");
    EXPECT_EQ(config.lookup("", "PRESS", "PFD"), "");
    EXPECT_EQ(config.lookup("MAPLEFT", "", "PFD"), "");
    EXPECT_TRUE(config.hasControl("map left"));
    EXPECT_FALSE(config.hasControl("MAP_LEFT"));
}

TEST(ButtonConfig, EntriesMergeSkipAndEndAtNul) {
    const ButtonConfig config = loaded(
        "{\"buttons\":[{\"name\":\"HDG\",\"commands\":{\"PRESS\":{\"DEFAULT\":\"sync\"},"
        "\"CW\":{\"DEFAULT\":\"old\",\"PFD\":\"pfd\"}}},{\"name\":\"SKIPPED\"},"
        "{\"name\":\"NUL\",\"commands\":{\"PRESS\":{\"DEFAULT\":\"a\\u0000b\"},\"CW\":\"x\"}},"
        "{\"name\":\"\",\"commands\":{\"PRESS\":{\"DEFAULT\":\"empty name\"}}}],"
        "\"knobs\":[{\"name\":\"hdg\",\"commands\":{\"CW\":{\"DEFAULT\":\"new\"},"
        "\"CCW\":{\"DEFAULT\":\"dec\"}}}],\"other\":1}");
    EXPECT_EQ(config.lookup("HDG", "PRESS", "PFD"), "sync");
    EXPECT_EQ(config.lookup("HDG", "CW", "MFD"), "new");
    EXPECT_EQ(config.lookup("HDG", "CW", "PFD"), "pfd");
    EXPECT_EQ(config.lookup("HDG", "CCW", "PFD"), "dec");
    EXPECT_FALSE(config.hasControl("SKIPPED"));
    EXPECT_EQ(config.lookup("NUL", "PRESS", ""), "a");
    EXPECT_TRUE(config.hasControl("NUL"));
    EXPECT_TRUE(config.hasControl(" "));
    EXPECT_FALSE(loaded("{}").hasControl("HDG"));
}

TEST(ButtonConfig, FailureTexts) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"{\"buttons\":[}", "Button config parse error: Unexpected token"},
        {"[]", "Button config root must be an object"},
        {"{\"buttons\":{},\"knobs\":[]}", "'buttons' must be an array"},
        {"{\"knobs\":{}}", "'knobs' must be an array"},
        {"{\"buttons\":[{\"name\":\"A\"},{\"name\":\"B\"},3]}", "buttons[2] must be an object"},
        {"{\"knobs\":[{\"name\":\"A\"},{\"name\":\"B\"},[]]}", "knobs[2] must be an object"},
        {"{\"buttons\":[{\"name\":1}]}", "buttons[0] missing name"},
        {"{\"buttons\":[],\"knobs\":[{\"commands\":{}}]}", "knobs[0] missing name"},
        {"{\"buttons\":[{\"name\":\"A\",\"commands\":[]}]}",
         "buttons[0].commands must be an object"},
    };
    for (const auto& [text, expected] : cases) {
        ButtonConfig config;
        std::string error;
        EXPECT_FALSE(config.loadFromText(text, error)) << text;
        EXPECT_EQ(error, expected) << text;
    }
}

TEST(ButtonConfig, FileProblemsNameThePath) {
    TempDir dir;
    ButtonConfig config;
    std::string error;
    EXPECT_FALSE(config.load(dir.file("none.json"), error));
    EXPECT_EQ(error, "Button config not found: " + dir.file("none.json"));
    // A folder where the file should be is reported, not thrown.
    EXPECT_FALSE(config.load(dir.path(), error));
    EXPECT_EQ(error, "Failed to open button config: " + dir.path());
}

// The mapping engine's workers read one table at once, without a lock.
TEST(ButtonConfig, TableIsReadFromSeveralThreadsAtOnce) {
    const ButtonConfig config =
        loaded("{\"knobs\":[{\"name\":\"HDG\",\"commands\":{\"CW\":{\"DEFAULT\":\"inc\"}}}]}");
    std::vector<std::thread> threads;
    std::vector<int> found(4, 0);
    for (std::size_t t = 0; t < found.size(); ++t) {
        threads.emplace_back([&config, &found, t] {
            for (int i = 0; i < 2000; ++i) {
                found[t] += config.lookup("hdg", "cw", t % 2 ? "MFD" : "") == "inc";
                found[t] += config.hasControl("HDG") ? 0 : 1000000;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(found, std::vector<int>(4, 2000));
}

}  // namespace
