// The command table behind the console, the sandbox and the emulator's
// options: look-up by name and alias, and the help generated from the rows.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/command_table.h"

namespace {

using ::testing::ElementsAre;
using Words = CommandTable::Words;

TEST(CommandTableTest, RunsTheNamedRowWithItsWordsAndRefusesOthers) {
    std::vector<Words> seen;
    auto record = [&seen](const Words& w) {
        seen.push_back(w);
        return w.size() > 1;
    };
    CommandTable module;
    module.add("present|absent", "", "loaded or not", record)
        .add("late", "[S]", "loads later", record);
    CommandTable table;
    table.add("quit", "", "stop", record, {"exit"}).add("module", "", "", record, {}, &module);

    EXPECT_EQ(table.runLine("  exit  now "), std::optional<bool>(true));
    EXPECT_EQ(table.run({"quit"}), std::optional<bool>(false));
    EXPECT_EQ(module.run({"absent"}), std::optional<bool>(false));
    EXPECT_EQ(table.run({"Quit"}), std::nullopt);  // names match exactly
    EXPECT_EQ(table.runLine("   "), std::nullopt);
    EXPECT_EQ(module.run({"present|absent"}), std::nullopt);
    EXPECT_THAT(seen, ElementsAre(Words{"exit", "now"}, Words{"quit"}, Words{"absent"}));

    EXPECT_EQ(table.help(12),
              "  quit      stop\n"
              "  module present|absent loaded or not\n"
              "  module late [S] loads later");
    EXPECT_THAT(table.primaryNames(), ElementsAre("quit", "module"));
    EXPECT_EQ(module.synopsis(), "present|absent|late [S]");
}

TEST(CommandTableTest, QuotesGroupBlanksIntoOneWordAndKeepBackslashes) {
    EXPECT_THAT(CommandTable::split(R"(aircraft "Big Jet 300"  "C:\My Planes\aircraft.cfg" "")"),
                ElementsAre("aircraft", "Big Jet 300", R"(C:\My Planes\aircraft.cfg)", ""));
    EXPECT_THAT(CommandTable::split("say pre\"fix and\"post \"open to the end"),
                ElementsAre("say", "prefix andpost", "open to the end"));
}

}  // namespace
