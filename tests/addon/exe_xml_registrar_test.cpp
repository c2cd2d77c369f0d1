#include "addon/exe_xml_registrar.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

#include "fakes/log_capture.h"
#include "fakes/temp_dir.h"
#include "platform/paths.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/resource.h>

#include <csignal>
#endif

namespace fs = std::filesystem;
using R = ExeXmlRegistrar;

namespace {

const std::string kName = "CorvaneHID";
const std::string kExe = "C:\\Corvane\\CorvaneHID.exe";
const std::string kArgs = "--config \"C:\\Corvane\\config.json\"";
const std::string kEntry =
    "    <Launch.Addon>\r\n        <Name>CorvaneHID</Name>\r\n        "
    "<Disabled>False</Disabled>\r\n"
    "        <Path>C:\\Corvane\\CorvaneHID.exe</Path>\r\n"
    "        <CommandLine>--config \"C:\\Corvane\\config.json\"</CommandLine>\r\n"
    "    </Launch.Addon>\r\n";
const std::string kOther = "  <Launch.Addon>\n    <Name>Other Tool</Name>\n  </Launch.Addon>\n";
const std::string kDocument = "<SimBase.Document>\n" + kOther + "</SimBase.Document>\n";

std::string reg(const std::string& doc) {
    return R::withEntry(doc, kName, kExe, kArgs);
}

// A machine whose LOCALAPPDATA and APPDATA point into a temporary folder.
class ExeXmlFilesTest : public ::testing::Test {
protected:
    R registrar() const {
        return R([this](const std::string& name) {
            auto it = env_.find(name);
            return it == env_.end() ? std::string() : it->second;
        });
    }
    // Candidate paths are built as plain strings, exactly as the program does.
    std::string local(int row) const {
        static const char* rows[] = {
            "\\Packages\\Microsoft.FlightSimulator_8wekyb3d8bbwe\\LocalCache\\EXE.xml",
            "\\Packages\\Microsoft.FlightSimulator_8wekyb3d8bbwe\\LocalState\\EXE.xml",
            "\\Packages\\Microsoft.Limitless_8wekyb3d8bbwe\\LocalCache\\EXE.xml"};
        return env_.at("LOCALAPPDATA") + rows[row];
    }
    std::string roaming(int row) const {
        return env_.at("APPDATA") + (row == 0 ? "\\Microsoft Flight Simulator\\EXE.xml"
                                              : "\\Microsoft Flight Simulator 2024\\EXE.xml");
    }
    static void makeParent(const std::string& path) {
        fs::create_directories(platform::toPath(platform::parentPath(path)));
    }
    static std::set<std::string> namesIn(const std::string& folder) {
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator(platform::toPath(folder))) {
            names.insert(platform::fromPath(e.path().filename()));
        }
        return names;
    }

    TempDir dir_;
    std::map<std::string, std::string> env_;
};

TEST_F(ExeXmlFilesTest, InstallationsAreTheCandidatesWhoseFolderExists) {
    EXPECT_TRUE(registrar().findInstallations().empty());
    env_ = {{"LOCALAPPDATA", ""}, {"APPDATA", ""}};
    EXPECT_TRUE(registrar().findInstallations().empty());
    // Linux has no backslash folders: the parent there is ".../absent", still missing.
    env_ = {{"LOCALAPPDATA", platform::joinPath(dir_.file("absent"), "local")},
            {"APPDATA", dir_.file("roaming")}};
    makeParent(roaming(0));
    makeParent(roaming(1));
    EXPECT_EQ(registrar().findInstallations(), (std::vector<std::string>{roaming(0), roaming(1)}));
    env_["LOCALAPPDATA"] = dir_.file("local");
    for (int row = 0; row < 3; ++row)
        makeParent(local(row));
    EXPECT_EQ(registrar().findInstallations(),
              (std::vector<std::string>{local(0), local(1), local(2), roaming(0), roaming(1)}));
    // A parent that is a file still counts.
    env_ = {{"LOCALAPPDATA", dir_.file("f")}};
    const std::string parent = platform::parentPath(local(0));
    makeParent(parent);
    writeFileBytes(parent, "x");
    EXPECT_EQ(registrar().findInstallations().at(0), local(0));
}

TEST_F(ExeXmlFilesTest, RegisterWritesEveryFileAndUnregisterOnlyThoseWithTheEntry) {
    env_ = {{"APPDATA", dir_.file("roaming")}};
    makeParent(roaming(0));
    makeParent(roaming(1));
    const std::string original = kDocument;
    writeFileBytes(roaming(0), original);
    std::string error;
    EXPECT_EQ(registrar().registerAll(kName, kExe, kArgs, error), 2);
    const std::string first = readFileBytes(roaming(0));
    EXPECT_EQ(first, reg(original));
    EXPECT_EQ(readFileBytes(roaming(0) + ".bak"), original);
    EXPECT_EQ(readFileBytes(roaming(1)), reg(""));
    // Nothing to change: nothing written, so the backup keeps the original.
    EXPECT_EQ(registrar().registerAll(kName, kExe, kArgs, error), 2);
    EXPECT_EQ(readFileBytes(roaming(0)), first);
    EXPECT_EQ(readFileBytes(roaming(0) + ".bak"), original);
    EXPECT_EQ(error, "");

    writeFileBytes(roaming(1), original);
    fs::remove(platform::toPath(roaming(1) + ".bak"));
    EXPECT_EQ(registrar().unregisterAll(kName, error), 1);
    EXPECT_EQ(readFileBytes(roaming(0)), original);
    EXPECT_EQ(readFileBytes(roaming(0) + ".bak"), first);
    EXPECT_FALSE(fs::exists(platform::toPath(roaming(1) + ".bak")));
    EXPECT_EQ(registrar().unregisterAll(kName, error), 0);
    EXPECT_EQ(error, "");
}

TEST_F(ExeXmlFilesTest, AnUnwritableFileStopsTheLoopAfterTheFilesDone) {
    env_ = {{"LOCALAPPDATA", dir_.file("local")}};
    for (int row = 0; row < 3; ++row)
        makeParent(local(row));
    writeFileBytes(local(0), kDocument);
    fs::create_directories(platform::toPath(local(1)));  // a folder stands in the way
    std::string error;
    EXPECT_EQ(registrar().registerAll(kName, kExe, kArgs, error), 1);
    EXPECT_EQ(error, "Failed to open for write: " + local(1));
    EXPECT_EQ(readFileBytes(local(0)), reg(kDocument));
    EXPECT_EQ(readFileBytes(local(0) + ".bak"), kDocument);
    EXPECT_TRUE(fs::is_directory(platform::toPath(local(1))));
    EXPECT_FALSE(fs::exists(platform::toPath(local(2))));
    EXPECT_FALSE(fs::exists(platform::toPath(local(1) + ".tmp")));
}

TEST_F(ExeXmlFilesTest, ARefusedFileStopsTheLoopAndStaysUntouched) {
    env_ = {{"LOCALAPPDATA", dir_.file("local")}};
    for (int row = 0; row < 3; ++row)
        makeParent(local(row));
    const std::string utf16("\xFF\xFE<\0a\0/\0>\0", 10);
    writeFileBytes(local(0), kDocument);
    writeFileBytes(local(1), utf16);
    std::string error;
    EXPECT_EQ(registrar().registerAll(kName, kExe, kArgs, error), 1);
    const std::string text =
        "Not written, the file is UTF-16 (open it in Notepad, choose Save As, set Encoding to "
        "UTF-8, save, and run this command again): " +
        local(1);
    EXPECT_EQ(error, text);
    EXPECT_EQ(readFileBytes(local(1)), utf16);
    EXPECT_FALSE(fs::exists(platform::toPath(local(1) + ".bak")));
    EXPECT_FALSE(fs::exists(platform::toPath(local(2))));
    error.clear();
    EXPECT_EQ(registrar().unregisterAll(kName, error), 1);
    EXPECT_EQ(error, text);
    EXPECT_EQ(readFileBytes(local(0)), kDocument);

    writeFileBytes(local(1), "<SimBase.Document>\n<!-- x\n</SimBase.Document>\n");
    EXPECT_EQ(registrar().registerAll(kName, kExe, kArgs, error), 1);
    EXPECT_EQ(error,
              "Not written, a comment never ends (it starts at line 2, column 1): " + local(1));
}

TEST_F(ExeXmlFilesTest, EachCandidateIsInspected) {
    env_ = {{"LOCALAPPDATA", dir_.file("local")}, {"APPDATA", dir_.file("roaming")}};
    for (int row = 0; row < 3; ++row)
        makeParent(local(row));
    makeParent(roaming(0));
    makeParent(roaming(1));
    writeFileBytes(local(0), std::string("\xFE\xFF\0<", 4));
    fs::create_directories(platform::toPath(local(1)));
    writeFileBytes(local(2), reg(kDocument));
    writeFileBytes(roaming(0), "<SimBase.Document>\r\n" + kEntry +
                                   "  <Launch.Addon><Name>CorvaneHID</Name></Launch.Addon>\r\n"
                                   "  <Launch.Addon><Name>X</Name></Launch.Addon>\r\n");
    // The first three fields; the entries judged after them are the
    // corpus's (kExe exists on no machine, but is a full path only on Windows).
    std::vector<std::string> lines;
    const std::vector<ExeXmlInspection> files = registrar().inspectAll(kName);
    for (const ExeXmlInspection& file : files) {
        const std::string line = exeXmlListLine(file);
        lines.push_back(line.substr(0, line.find("\tprogram missing: ")));
    }
    EXPECT_EQ(files.at(2).executablePaths, std::vector<std::string>{kExe});
    EXPECT_EQ(files.at(3).executablePaths, (std::vector<std::string>{kExe, ""}));
    const std::vector<std::string> expected = {
        local(0) + "\tnot examined\tUTF-16 (save it as UTF-8)",
        local(1) + "\tnot examined\tcannot be read",
        local(2) + "\tregistered: " + kArgs + "\twell-formed",
        roaming(0) + "\tregistered 2 times: " + kArgs +
            " | (no command line)\tnot well-formed: line 1, column 1: <SimBase.Document> is never "
            "closed",
        roaming(1) + "\tnot registered\tno file yet (--register creates it)"};
    EXPECT_EQ(lines, expected);
}

TEST_F(ExeXmlFilesTest, AHugeFileIsWrittenAndReadWholeUpToTheBound) {
    std::string huge;
    for (int i = 0; huge.size() < 4000000; ++i)
        huge += "  <Launch.Addon><Name>T" + std::to_string(i) + "</Name></Launch.Addon>\r\n";
    std::string error;
    ASSERT_TRUE(R::writeWithBackup(dir_.file("EXE.xml"), huge, error));
    EXPECT_EQ(R::readFile(dir_.file("EXE.xml")), huge);

    // Beyond it, no EXE.xml: it is neither read nor replaced.
    env_ = {{"APPDATA", dir_.file("roaming")}};
    makeParent(roaming(0));
    huge.append(5000000 - huge.size(), ' ');
    writeFileBytes(roaming(0), huge);
    EXPECT_EQ(registrar().registerAll(kName, kExe, kArgs, error), 0);
    EXPECT_EQ(error, "Failed to read: " + roaming(0) + " (larger than 4 MiB)");
    EXPECT_EQ(readFileBytes(roaming(0)).size(), huge.size());
}

TEST_F(ExeXmlFilesTest, FailedWritesLeaveTheFolderAsItWas) {
    const std::string path = dir_.file("EXE.xml");
    fs::create_directories(platform::toPath(path));
    writeFileBytes(platform::joinPath(path, "inside"), "kept");
    std::string error;
    EXPECT_FALSE(R::writeWithBackup(path, "new", error));
    EXPECT_EQ(error, "Failed to open for write: " + path);
    EXPECT_EQ(readFileBytes(platform::joinPath(path, "inside")), "kept");
    EXPECT_EQ(namesIn(dir_.path()), std::set<std::string>{"EXE.xml"});

    // The folder itself is created when missing.
    const std::string nested = platform::joinPath(dir_.file("a"), "EXE.xml");
    EXPECT_TRUE(R::writeWithBackup(nested, "doc", error));
    EXPECT_EQ(readFileBytes(nested), "doc");
    EXPECT_EQ(R::readFile(dir_.file("missing.xml")), "");
}

TEST_F(ExeXmlFilesTest, AFailedBackupIsLoggedAndTheWriteGoesOn) {
    LogCapture log;
    const std::string path = dir_.file("EXE.xml");
    writeFileBytes(path, "old");
    fs::create_directories(platform::toPath(path + ".bak"));
    std::string error;
    EXPECT_TRUE(R::writeWithBackup(path, std::string("new\0\r\n", 6), error));
    EXPECT_EQ(R::readFile(path), std::string("new\0\r\n", 6));
    const auto warnings = log.messages("WARN");
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0].rfind("Failed to back up EXE.xml before writing: " + path + " (", 0), 0u);
    EXPECT_GT(warnings[0].size(), 48 + path.size());
    EXPECT_EQ(warnings[0].back(), ')');
}

#ifdef _WIN32
TEST_F(ExeXmlFilesTest, ALockedFileIsNotReplacedByAFreshDocument) {
    env_ = {{"APPDATA", dir_.file("roaming")}};
    makeParent(roaming(0));
    writeFileBytes(roaming(0), kOther);
    HANDLE lock = CreateFileW(platform::toPath(roaming(0)).c_str(), GENERIC_READ, 0, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    std::string error;
    EXPECT_EQ(registrar().registerAll(kName, kExe, kArgs, error), 0);
    EXPECT_EQ(error, "Failed to read: " + roaming(0));
    // Unregistering cannot know whether the file still starts the program.
    error.clear();
    EXPECT_EQ(registrar().unregisterAll(kName, error), 0);
    CloseHandle(lock);
    EXPECT_EQ(error, "Failed to read: " + roaming(0));
    EXPECT_EQ(readFileBytes(roaming(0)), kOther);
}
#else
TEST_F(ExeXmlFilesTest, AFullDiskLeavesTheOriginalAndNoTemporaryFile) {
    const std::string path = dir_.file("EXE.xml");
    writeFileBytes(path, "old");
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = 65536;
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &small);
    std::string error;
    const bool written = R::writeWithBackup(path, std::string(1 << 20, 'x'), error);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_FALSE(written);
    EXPECT_EQ(error, "Failed to write: " + path);
    EXPECT_EQ(readFileBytes(path), "old");
    EXPECT_EQ(namesIn(dir_.path()), (std::set<std::string>{"EXE.xml", "EXE.xml.bak"}));
}

TEST_F(ExeXmlFilesTest, ALinkedFileIsReplacedThroughTheLink) {
    const std::string target = dir_.file("real.xml");
    const std::string link = dir_.file("EXE.xml");
    writeFileBytes(target, "old");
    fs::create_symlink(platform::toPath(target), platform::toPath(link));
    std::string error;
    ASSERT_TRUE(R::writeWithBackup(link, "new", error));
    EXPECT_TRUE(fs::is_symlink(platform::toPath(link)));
    EXPECT_EQ(readFileBytes(target), "new");
    EXPECT_EQ(readFileBytes(link + ".bak"), "old");
}
#endif

}  // namespace

namespace {

// The EXE.xml corpus of what the simulator skips or cannot start: each file
// with the fields that --list-exe-xml adds for it and what --register says.
// @PRESENT@ stands for a program that exists, @MISSING@ for one that does not.
struct DoctorCase {
    const char* file;
    std::vector<std::string> fields;
    std::string refusal;  // empty: registering succeeds
};

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at)) {
        text.replace(at, from.size(), to);
        at += to.size();
    }
    return text;
}

}  // namespace

TEST_F(ExeXmlFilesTest, TheCorpusReportsWhatTheSimulatorSkipsAndRefusesToRegisterThere) {
    const std::string after =
        "after the file's first root element, and the simulator reads only "
        "the first";
    const std::string unseen = "Not written, the simulator would not see the entry there, ";
    const DoctorCase cases[] = {
        {"doctor_second_root.xml",
         {"not seen by the simulator: Appended Tool (line 19, " + after + ")"},
         ""},
        {"doctor_second_root_ours.xml",
         {"not seen by the simulator: CorvaneHID (line 19, " + after + ")"},
         unseen + after +
             " (move the entries after the first </SimBase.Document> into it, delete what is "
             "left after it, and run this command again)"},
        {"doctor_nested.xml",
         {"not seen by the simulator: Pasted Tool (line 10, inside <Launch.Addon>, not directly "
          "inside <SimBase.Document>)"},
         ""},
        {"doctor_other_root.xml",
         {"not seen by the simulator: Old Tool (line 3, inside <SimBase.Documents>, not directly "
          "inside <SimBase.Document>)"},
         "Not written, the entry would be outside the root element"},
        {"doctor_missing_program.xml",
         {"program missing: Deleted Tool (line 12): @MISSING@",
          "program missing: CorvaneHID (line 25): @MISSING@"},
         ""},
    };
    env_ = {{"APPDATA", dir_.file("roaming")}};
    makeParent(roaming(0));
    const std::string present = dir_.file("other.exe");
    const std::string missing = dir_.file("deleted.exe");
    writeFileBytes(present, "MZ");
    for (const DoctorCase& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string source = readFileBytes(platform::joinPath(
            platform::joinPath(CORVANE_SOURCE_DIR, "tests/data/exe_xml"), c.file));
        ASSERT_FALSE(source.empty());
        const std::string document =
            replaced(replaced(source, "@PRESENT@", present), "@MISSING@", missing);
        writeFileBytes(roaming(0), document);
        fs::remove(platform::toPath(roaming(0) + ".bak"));

        std::string expected = roaming(0);
        for (const std::string& field : c.fields)
            expected += "\t" + replaced(field, "@MISSING@", missing);
        const std::string line = exeXmlListLine(R::inspect(roaming(0), kName));
        std::size_t fieldsEnd = line.find('\t', line.find('\t', line.find('\t') + 1) + 1);
        fieldsEnd = fieldsEnd == std::string::npos ? line.size() : fieldsEnd;
        EXPECT_EQ(line.substr(0, line.find('\t')) + line.substr(fieldsEnd), expected);

        std::string error;
        const int count = registrar().registerAll(kName, present, kArgs, error);
        if (c.refusal.empty()) {
            EXPECT_GT(count, 0);
            EXPECT_EQ(error, "");
            // The other entries as they were; ours now where the simulator looks.
            EXPECT_EQ(R::withoutEntry(readFileBytes(roaming(0)), kName),
                      R::withoutEntry(document, kName));
            const ExeXmlInspection now = R::inspect(roaming(0), kName);
            ASSERT_EQ(now.executablePaths.size(), 1u);
            for (const exe_xml::AddonEntry& entry : now.unseen)
                EXPECT_NE(entry.name, kName);
        } else {
            EXPECT_EQ(count, 0);
            EXPECT_EQ(error, c.refusal + ": " + roaming(0));
            EXPECT_EQ(readFileBytes(roaming(0)), document);
            EXPECT_FALSE(fs::exists(platform::toPath(roaming(0) + ".bak")));
        }
    }
}
