#include "config/event_map.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes/temp_dir.h"

namespace {

TEST(EventMap, NamesCodesByTruncatedNumberAndLastSortingNameWins) {
    EventMap map;
    std::string error;
    ASSERT_TRUE(map.loadFromText(
        "{\"event_types\":{\"BUTTON\":1,\"ENCODER\":2.9,\"note\":\"x\",\"neg\":-1.5},"
        "\"control_ids\":{\"NAV_SWAP\":7,\"AP_HDG\":7,\"HDG\":12.8,\"sub\":{}},\"extra\":[1]}",
        error))
        << error;
    EXPECT_EQ(map.eventTypeName(1), "BUTTON");
    EXPECT_EQ(map.eventTypeName(2), "ENCODER");
    EXPECT_EQ(map.eventTypeName(-1), "neg");
    EXPECT_EQ(map.eventTypeName(3), "");
    EXPECT_EQ(map.eventTypes().size(), 3u);
    EXPECT_EQ(map.controlName(7), "NAV_SWAP");
    EXPECT_EQ(map.controlName(12), "HDG");
    EXPECT_EQ(map.controlName(65535), "");
}

TEST(EventMap, FailureTextsAndWhatTheTablesHoldAfterwards) {
    const std::string good = "{\"event_types\":{\"BUTTON\":1},\"control_ids\":{\"HDG\":20}}";
    const std::vector<std::pair<std::string, std::string>> untouched = {
        {"{\"event_types\":{,}}", "Event map parse error: Expected string key"},
        {"[]", "Event map root must be an object"},
        {"\"text\"", "Event map root must be an object"},
    };
    for (const auto& [text, expected] : untouched) {
        EventMap map;
        std::string error;
        ASSERT_TRUE(map.loadFromText(good, error));
        EXPECT_FALSE(map.loadFromText(text, error));
        EXPECT_EQ(error, expected);
        EXPECT_EQ(map.controlName(20), "HDG") << text;
    }
    const std::vector<std::pair<std::string, std::string>> emptied = {
        {"{\"control_ids\":{\"HDG\":20}}", "Event map missing valid event_types entries"},
        {"{\"event_types\":[1],\"control_ids\":{\"HDG\":20}}",
         "Event map missing valid event_types entries"},
        {"{\"event_types\":{\"BUTTON\":1},\"control_ids\":{\"HDG\":\"20\"}}",
         "Event map missing valid control_ids entries"},
    };
    for (const auto& [text, expected] : emptied) {
        EventMap map;
        std::string error;
        ASSERT_TRUE(
            map.loadFromText("{\"event_types\":{\"OLD\":9},\"control_ids\":{\"OLD\":9}}", error));
        EXPECT_FALSE(map.loadFromText(text, error));
        EXPECT_EQ(error, expected);
        EXPECT_EQ(map.eventTypeName(9), "");
        EXPECT_EQ(map.controlName(9), "");
        EXPECT_EQ(map.controlName(20), text.find("HDG\":20") != std::string::npos ? "HDG" : "");
    }
    EventMap map;
    std::string error;
    EXPECT_FALSE(map.loadFromText(emptied[2].first, error));
    EXPECT_EQ(map.eventTypeName(1), "BUTTON");  // the types read stay
}

TEST(EventMap, FileProblemsNameThePath) {
    TempDir dir;
    EventMap map;
    std::string error;
    EXPECT_FALSE(map.load(dir.file("none.json"), error));
    EXPECT_EQ(error, "Event map not found: " + dir.file("none.json"));
    EXPECT_FALSE(map.load(dir.path(), error));
    EXPECT_EQ(error, "Failed to open event map: " + dir.path());
    writeFileBytes(dir.file("map.json"),
                   "{\"event_types\":{\"B\":1},\r\n\"control_ids\":{\"C\":2}}");
    EXPECT_TRUE(map.load(dir.file("map.json"), error)) << error;
    EXPECT_EQ(map.controlName(2), "C");
}

}  // namespace
