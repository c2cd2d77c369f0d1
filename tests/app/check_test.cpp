#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>

#include "app/launch_arguments.h"
#include "app/program_check.h"
#include "app/user_cfg.h"
#include "emulation/virtual_hid_bus.h"
#include "fakes/temp_dir.h"
#include "platform/paths.h"
#include "platform/shared_library.h"
#include "platform/stream_transport.h"
#include "sim/simconnect_sdk_library.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> texts(const std::vector<Finding>& findings) {
    std::vector<std::string> lines;
    for (const Finding& finding : findings)
        lines.push_back(formatCheckLine("X", finding));
    return lines;
}

TEST(LaunchArgumentsTest, SplitsARegisteredCommandLineAsTheWindowsRuntimeDoes) {
    using Args = std::vector<std::string>;
    EXPECT_EQ(splitCommandLine("--config \"C:\\My Panels\\config.json\""),
              (Args{"--config", "C:\\My Panels\\config.json"}));
    EXPECT_EQ(splitCommandLine(" \t--console\t --config  C:\\a\\b.json  "),
              (Args{"--console", "--config", "C:\\a\\b.json"}));
    // Backslashes count only before a quote: in pairs, and an odd one quotes it.
    EXPECT_EQ(splitCommandLine("\"C:\\dir\\\\\" x"), (Args{"C:\\dir\\", "x"}));
    EXPECT_EQ(splitCommandLine("a\\\"b c\\\\d"), (Args{"a\"b", "c\\\\d"}));
    EXPECT_EQ(splitCommandLine("\"a \"\"b\"\" c\" \"\""), (Args{"a \"b\" c", ""}));
    EXPECT_EQ(splitCommandLine("x\"y z\"w"), (Args{"xy zw"}));
    EXPECT_TRUE(splitCommandLine("   ").empty());
}

TEST(UserCfgTest, FindsThePackagesPathAsTheSimulatorWritesIt) {
    const std::map<std::string, std::string> found = {
        {"{Graphics\r\n\tVersion 1.1\r\n}\r\nInstalledPackagesPath \"D:\\MSFS Packages\"\r\n",
         "D:\\MSFS Packages"},
        {"\xEF\xBB\xBFInstalledPackagesPath \"C:\\P\"", "C:\\P"},
        {"  \tinstalledpackagespath\t \"C:\\P\"  # old\n", "C:\\P"},
        {"InstalledPackagesPath C:\\No Quotes \t\r\n", "C:\\No Quotes"},
        {"InstalledPackagesPath \"C:\\Unclosed \r\n", "C:\\Unclosed"},
        {"InstalledPackagesPath \"\"\nInstalledPackagesPath \"C:\\Second\"\n"
         "InstalledPackagesPath \"C:\\Third\"\n",
         "C:\\Second"},
    };
    for (const auto& [text, expected] : found) {
        std::string path;
        EXPECT_TRUE(findInstalledPackagesPath(text, path)) << text;
        EXPECT_EQ(path, expected) << text;
    }
    for (const std::string text :
         {"", "\r\n", "InstalledPackagesPathOld \"C:\\P\"\n", "InstalledPackagesPath\n",
          "# InstalledPackagesPath \"C:\\P\"", "UserPackagesPath \"C:\\P\""}) {
        std::string path;
        EXPECT_FALSE(findInstalledPackagesPath(text, path)) << text;
    }
}

TEST(UserCfgTest, TellsAnUnreadableFileFromOneWithoutTheLine) {
    TempDir dir;
    using Status = PackagesPathLookup::Status;
    EXPECT_EQ(readInstalledPackagesPath(dir.file("UserCfg.opt")).status, Status::Unreadable);
    EXPECT_EQ(readInstalledPackagesPath(dir.path()).status, Status::Unreadable);
    writeFileBytes(dir.file("UserCfg.opt"), "");
    EXPECT_EQ(readInstalledPackagesPath(dir.file("UserCfg.opt")).status, Status::NoLine);
    writeFileBytes(dir.file("UserCfg.opt"), "InstalledPackagesPath \"E:\\Packages\"\r\n");
    const PackagesPathLookup lookup = readInstalledPackagesPath(dir.file("UserCfg.opt"));
    EXPECT_EQ(lookup.status, Status::Found);
    EXPECT_EQ(lookup.path, "E:\\Packages");

    EXPECT_EQ(userCfgBeside("C:\\Users\\p\\AppData\\Roaming\\Microsoft Flight Simulator\\EXE.xml"),
              "C:\\Users\\p\\AppData\\Roaming\\Microsoft Flight Simulator\\UserCfg.opt");
    EXPECT_EQ(userCfgBeside("/home/p/local\\Packages\\LocalCache\\EXE.xml"),
              "/home/p/local\\Packages\\LocalCache\\UserCfg.opt");
}

TEST(CheckReportTest, RowsWriteTheirLinesInOrderAndAnyFailureFailsTheRun) {
    CheckContext context;
    const std::vector<CheckRow> rows = {
        {"First", [](CheckContext&) { return std::vector<Finding>{okFinding("fine")}; }},
        {"Absent", [](CheckContext&) { return std::vector<Finding>{}; }},
        {"Second",
         [](CheckContext&) {
             return std::vector<Finding>{warnFinding("odd; look"), okFinding("fine too")};
         }},
    };
    std::ostringstream out;
    EXPECT_EQ(runChecks(rows, context, out), 0);
    EXPECT_EQ(out.str(),
              "OK   First: fine\nWARN Second: odd; look\nOK   Second: fine too\n"
              "Checked: 2 OK, 1 WARN, 0 FAIL\n");

    std::vector<CheckRow> failing = rows;
    failing.push_back({"Third", [](CheckContext&) {
                           return std::vector<Finding>{failFinding("broken; mend it")};
                       }});
    std::ostringstream failed;
    EXPECT_EQ(runChecks(failing, context, failed), 1);
    EXPECT_NE(failed.str().find("FAIL Third: broken; mend it\nChecked: 2 OK, 1 WARN, 1 FAIL\n"),
              std::string::npos);
}

class FileChecksTest : public ::testing::Test {
protected:
    std::string write(const std::string& name, const std::string& text) {
        writeFileBytes(dir.file(name), text);
        return dir.file(name);
    }
    CheckContext context() {
        CheckContext c;
        c.configPath = dir.file("config.json");
        c.executablePath = dir.file("CorvaneHID.exe");
        return c;
    }
    TempDir dir;
};

TEST_F(FileChecksTest, EachFileGivesTheLoadersTextAndDuplicateKeysAreWarned) {
    CheckContext missing = context();
    EXPECT_EQ(texts(checkConfiguration(missing)),
              std::vector<std::string>{"FAIL X: Config file not found: " + missing.configPath +
                                       " (default search order: " +
                                       platform::joinPath(dir.file("config"), "config.json") +
                                       "); put config.json there, or give its path with --config"});
    EXPECT_EQ(checkButtonConfiguration(missing).at(0).verdict, Verdict::Warn);

    write("config.json",
          R"({"hid": {"vid": "0x2E8A", "pid": "0x10C0", "vid": "1"},
              "mappings": {"buttonConfigPath": "buttons.json", "hidEventMapPath": "events.json"}})");
    write("events.json", R"({"event_types": {"BUTTON": 1}, "control_ids": {"MAP": 3}})");
    write("buttons.json", R"({"buttons": [}})");
    CheckContext c = context();
    EXPECT_EQ(texts(checkConfiguration(c)),
              (std::vector<std::string>{
                  "OK   X: " + c.configPath + " loaded",
                  "WARN X: Duplicate key 'vid' in " + c.configPath + "; the first one is used"}));
    EXPECT_TRUE(c.configLoaded);
    EXPECT_EQ(c.config.vid, "0x2E8A");
    EXPECT_EQ(texts(checkEventMap(c)),
              std::vector<std::string>{"OK   X: " + dir.file("events.json") +
                                       " loaded (1 event types, 1 controls)"});
    const std::vector<Finding> buttons = checkButtonConfiguration(c);
    ASSERT_EQ(buttons.size(), 1u);
    EXPECT_EQ(buttons[0].verdict, Verdict::Fail);
    EXPECT_EQ(buttons[0].text.rfind("Button config parse error: ", 0), 0u) << buttons[0].text;

    write("events.json", R"({"event_types": {}})");
    EXPECT_EQ(checkEventMap(c).at(0).verdict, Verdict::Fail);
    c.config.hidEventMapPath.clear();
    EXPECT_EQ(checkEventMap(c).at(0).verdict, Verdict::Warn);
}

TEST(SimConnectCheckTest, NamesTheClientAndChecksTheDllWhenOneIsAskedFor) {
    TempDir dir;
    CheckContext c;
    c.executablePath = dir.file("CorvaneHID.exe");
    if (platform::localPipesAvailable()) {
        EXPECT_EQ(texts(checkSimConnectLibrary(c)),
                  std::vector<std::string>{
                      "OK   X: built-in client, pipe \\\\.\\pipe\\Microsoft Flight "
                      "Simulator\\SimConnect"});
    } else {
        EXPECT_TRUE(checkSimConnectLibrary(c).empty());  // no address, no pipe: nothing to name
    }
    c.config.simulator.client = SimulatorSettings::Client::SdkLibrary;
    const std::string library = dir.file(simconnect::sdkLibraryFileName());
    EXPECT_NE(texts(checkSimConnectLibrary(c)).at(0).find(" not found beside the program (" +
                                                          library + ")"),
              std::string::npos);
    writeFileBytes(library, "MZ but not a library");
    EXPECT_EQ(
        texts(checkSimConnectLibrary(c)).at(0).rfind("FAIL X: " + library + " does not load (", 0),
        0u);
}

// Virtual panels: which ones match, what each says, and none stays open.
TEST(PanelCheckTest, ListsTheMatchingPanelsAndClosesThemAgain) {
    emulation::VirtualHidBus bus;
    std::array<std::uint8_t, 8> board{};
    ASSERT_TRUE(emulation::boardIdFromText("E6614103E7452D2F", board));
    emulation::VirtualPanel answering = bus.addPanel(
        {"hid://a", 0x2E8A, 0x10C0, "SN-1", board, HidProtocol::ProtocolInfo{1, 2, 5}});
    emulation::VirtualPanel silent = bus.addPanel({"hid://b", 0x2E8A, 0x10C0, "SN-2", {}, {}});
    emulation::VirtualPanel locked = bus.addPanel({"hid://c", 0x2E8A, 0x10C0, "", {}, {}});
    locked.failReadOpen(true);
    bus.addPanel({"hid://d", 0x2E8A, 0x10C1, "SN-4", board, {}});

    CheckContext c;
    c.hidBus = &bus;
    EXPECT_EQ(checkPanels(c).at(0).verdict, Verdict::Warn);  // no configuration
    c.configLoaded = true;
    c.config.vid = "0x2E8A";
    c.config.pid = "10c0";
    c.config.devices.push_back({"E6614103E7452D2F", -1, "PFD", ""});
    const std::vector<std::string> lines = texts(checkPanels(c));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0],
              "OK   X: E6614103E7452D2F (serial SN-1, protocol 1.2, flags 0x05, devices entry "
              "with role PFD) at hid://a");
    EXPECT_EQ(
        lines[1].rfind("WARN X: SN-2 (no protocol report) at hid://b; it gives no board id", 0), 0u)
        << lines[1];
    EXPECT_EQ(lines[2].rfind("FAIL X: hid://c cannot be opened", 0), 0u) << lines[2];
    EXPECT_EQ(answering.openReadHandles() + silent.openReadHandles(), 0);

    c.config.pid = "0x10C2";
    EXPECT_EQ(texts(checkPanels(c))
                  .at(0)
                  .rfind("WARN X: none with VID 2E8A and PID 10C2 is "
                         "plugged in",
                         0),
              0u);
    c.config.pid = "PID";
    EXPECT_EQ(checkPanels(c).at(0).verdict, Verdict::Fail);
}

// The candidates are built from APPDATA as the program builds them; on Linux
// their backslashes are part of one file name in the temporary folder.
class SimulatorCheckTest : public ::testing::Test {
protected:
    SimulatorCheckTest() {
        fs::create_directories(platform::toPath(platform::parentPath(exeXml)));
        fs::create_directories(platform::toPath(platform::parentPath(exeXml2024)));
        context.configPath = write("config.json", "{}");
        context.executablePath = write("CorvaneHID.exe", "MZ");
        context.environment = [this](const std::string& name) {
            return name == "APPDATA" ? roaming : std::string();
        };
    }
    std::string write(const std::string& name, const std::string& text) {
        writeFileBytes(dir.file(name), text);
        return dir.file(name);
    }
    static std::string entry(const std::string& exe, const std::string& commandLine) {
        return "<Launch.Addon><Name>CorvaneHID</Name><Path>" + exe + "</Path><CommandLine>" +
               commandLine + "</CommandLine></Launch.Addon>";
    }
    void registerAs(const std::string& entries) {
        writeFileBytes(exeXml, "<SimBase.Document>" + entries + "</SimBase.Document>");
    }
    // The first line about the 2020 file, without its path.
    std::string first() {
        const std::vector<Finding> findings = checkSimulatorRegistrations(context);
        const std::string line = formatCheckLine("X", findings.at(0));
        const std::size_t at = line.find(exeXml);
        return at == std::string::npos ? line
                                       : line.substr(0, at) + line.substr(at + exeXml.size());
    }

    TempDir dir;
    std::string roaming = dir.file("roaming");
    std::string exeXml = roaming + "\\Microsoft Flight Simulator\\EXE.xml";
    std::string exeXml2024 = roaming + "\\Microsoft Flight Simulator 2024\\EXE.xml";
    CheckContext context;
};

TEST_F(SimulatorCheckTest, SaysWhetherTheSimulatorStartsThisProgramWithThisConfiguration) {
    const std::string exe = context.executablePath;
    const std::string config = context.configPath;
    const std::string again =
        "; register again: CorvaneHID.exe --register --config \"" + config + "\"";
    EXPECT_EQ(first(),
              "WARN X: : no EXE.xml yet, so the simulator does not start the program; "
              "to have it started, run CorvaneHID.exe --register --config \"" +
                  config + "\"");
    registerAs(entry(exe, "--config \"" + config + "\""));
    EXPECT_EQ(first(), "OK   X: : registered with this configuration");
    registerAs(entry(exe, "--config \"" + dir.file("gone.json") + "\""));
    EXPECT_EQ(first(), "FAIL X: : registered with " + dir.file("gone.json") +
                           ", which does not exist, so the program would not start" + again);
    const std::string other = write("other.json", "{}");
    registerAs(entry(exe, "--config \"" + other + "\""));
    EXPECT_EQ(first().rfind("WARN X: : registered with " + other +
                                ", not with the configuration checked here; check that one with "
                                "--check --config \"" +
                                other + "\"",
                            0),
              0u);
    registerAs(entry(exe, "--config config.json"));
    EXPECT_EQ(first().rfind("WARN X: : registered with the relative configuration path", 0), 0u);
    registerAs(entry(dir.file("old.exe"), "--config \"" + config + "\""));
    EXPECT_EQ(first(),
              "FAIL X: : registered for " + dir.file("old.exe") + ", which does not exist" + again);
    registerAs(entry(write("copy.exe", "MZ"), "--config \"" + config + "\""));
    EXPECT_EQ(first().rfind("WARN X: : registered for another copy of the program", 0), 0u);

    // Twice: one warning, then each entry.
    registerAs(entry(exe, "--config \"" + config + "\"") +
               entry(exe, "--config \"" + config + "\""));
    const std::vector<Finding> twice = checkSimulatorRegistrations(context);
    ASSERT_EQ(twice.size(), 4u);  // the 2024 file comes last
    EXPECT_EQ(twice[0].verdict, Verdict::Warn);
    EXPECT_EQ(twice[1].verdict, Verdict::Ok);
    EXPECT_EQ(twice[2].verdict, Verdict::Ok);

    writeFileBytes(exeXml, "<SimBase.Document><!-- </SimBase.Document>");
    EXPECT_EQ(first().rfind("FAIL X: : not well-formed: line 1, column 19: ", 0), 0u) << first();
}

TEST_F(SimulatorCheckTest, NamesEntriesTheSimulatorSkipsOrCannotStartWithoutTouchingThem) {
    const std::string ours =
        entry(context.executablePath, "--config \"" + context.configPath + "\"");
    const std::string gone =
        "<Launch.Addon><Name>Gone</Name><Path>" + dir.file("gone.exe") + "</Path></Launch.Addon>";
    const std::string appended = "<SimBase.Document>\n<Launch.Addon><Name>Late</Name><Path>" +
                                 context.executablePath + "</Path></Launch.Addon>\n" + ours +
                                 "</SimBase.Document>";
    const std::string document =
        "<SimBase.Document>\n" + gone + "\n</SimBase.Document>\n" + appended;
    writeFileBytes(exeXml, document);
    std::vector<std::string> lines;
    for (const Finding& finding : checkSimulatorRegistrations(context))
        lines.push_back(formatCheckLine("X", finding));
    ASSERT_EQ(lines.size(), 5u);  // the 2024 file comes last
    EXPECT_EQ(lines[0].rfind("FAIL X: " + exeXml +
                                 ": not well-formed: line 4, column 1: a second "
                                 "root element",
                             0),
              0u)
        << lines[0];
    const std::string skipped =
        " is after the file's first root element, and the simulator reads "
        "only the first, so the simulator never starts it; move the "
        "entries after the first </SimBase.Document> into it and delete "
        "what is left after it";
    EXPECT_EQ(lines[1], "WARN X: " + exeXml + ": the entry Late (line 5)" + skipped);
    // Our own entry there means the program is not started: a failure.
    EXPECT_EQ(lines[2], "FAIL X: " + exeXml + ": the entry CorvaneHID (line 6)" + skipped);
    EXPECT_EQ(lines[3], "WARN X: " + exeXml + ": the entry Gone (line 2) starts " +
                            dir.file("gone.exe") +
                            ", which does not exist, so the simulator complains about it at every "
                            "start; reinstall that program, or remove its entry (its uninstaller, "
                            "or by hand)");
    EXPECT_EQ(readFileBytes(exeXml), document);
}

TEST_F(SimulatorCheckTest, LooksForTheModuleWhereUserCfgSaysAndSaysWhere) {
    const std::string userCfg = userCfgBeside(exeXml);
    const std::string packages = dir.file("Packages");
    const std::string community = platform::joinPath(packages, "Community");
    const std::string module = platform::joinPath(community, "mobiflight-event-module");
    auto line = [this] { return formatCheckLine("X", checkMobiFlightModule(context).at(0)); };

    EXPECT_EQ(line().rfind("WARN X: no UserCfg.opt found (looked for " + userCfg + ", " +
                               userCfgBeside(exeXml2024) + "), so the packages folder is unknown",
                           0),
              0u)
        << line();
    fs::create_directories(platform::toPath(userCfg));
    EXPECT_EQ(line().rfind("WARN X: " + userCfg + " cannot be read", 0), 0u) << line();
    fs::remove(platform::toPath(userCfg));
    writeFileBytes(userCfg, "InstalledPackagesPath \"" + packages + "\"\r\n");
    EXPECT_EQ(line(), "FAIL X: " + community + " does not exist (InstalledPackagesPath of " +
                          userCfg + "); install the MobiFlight WASM module into " + community +
                          ", or only the autopilot fallback works");
    fs::create_directories(platform::toPath(community));
    EXPECT_EQ(line().rfind("FAIL X: " + module + " not found", 0), 0u) << line();
    fs::create_directories(platform::toPath(module));
    EXPECT_EQ(line(), "OK   X: " + module + " found (InstalledPackagesPath of " + userCfg + ")");
    EXPECT_EQ(checkMobiFlightModule(context).size(), 1u);  // the 2024 one has no UserCfg.opt

    context.configLoaded = true;
    context.config.mobiflight.enabled = false;
    EXPECT_EQ(line(), "OK   X: not needed, mobiflight.enabled is off in the configuration");
}

}  // namespace
