#include "addon/exe_xml_registrar.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <random>
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

std::string reg(const std::string& doc) {
    return R::withEntry(doc, kName, kExe, kArgs);
}
std::string unreg(const std::string& doc) {
    return R::withoutEntry(doc, kName);
}

TEST(ExeXmlDocumentTest, BlankFilesBecomeTheDefaultDocumentWithTheEntry) {
    const std::string def = R::defaultDocument();
    ASSERT_EQ(def.size(), 267u);
    const std::size_t closing = def.find("</SimBase.Document>");
    const std::string expected = def.substr(0, closing) + kEntry + def.substr(closing);
    EXPECT_EQ(reg(""), expected);
    EXPECT_EQ(reg(" \r\n\t \n"), expected);
}

TEST(ExeXmlDocumentTest, EntryIsPlacedReplacedAndRemovedKeepingOtherBytes) {
    const std::string head = "<SimBase.Document>\n" + kOther;
    // Inserted on its own lines before the closing tag's line.
    EXPECT_EQ(reg(head + "\t</SimBase.Document>\n"), head + kEntry + "\t</SimBase.Document>\n");
    // Names compare ignoring case and surrounding white space; the whole lines go.
    const std::string old =
        "  <launch.addon>\n <NAME> \tcorvanehid \n</NAME>\n  </LAUNCH.ADDON>  \n";
    EXPECT_EQ(reg(head + old + kOther + "</SimBase.Document>"),
              head + kEntry + kOther + "</SimBase.Document>");
    EXPECT_EQ(unreg(head + old + kOther), head + kOther);
    // Only the first entry of ours counts.
    EXPECT_EQ(unreg(head + old + old), head + old);
    // Without a closing tag the entry is appended.
    EXPECT_EQ(reg(head), head + kEntry);
    // Nothing to remove: unchanged.
    EXPECT_EQ(unreg(head), head);
}

TEST(ExeXmlDocumentTest, ValuesAreEscapedAndEmptyArgumentsLeaveNoCommandLine) {
    const std::string doc = R::withEntry("", "A&B", "C:\\x<y>\\'q\".exe", "");
    EXPECT_NE(doc.find("        <Name>A&amp;B</Name>\r\n"), std::string::npos);
    EXPECT_NE(doc.find("        <Path>C:\\x&lt;y&gt;\\'q\".exe</Path>\r\n"), std::string::npos);
    EXPECT_EQ(doc.find("CommandLine"), std::string::npos);
    EXPECT_NE(R::withEntry("", kName, kExe, "--config \"C:\\R&D\\c.json\"")
                  .find("<CommandLine>--config \"C:\\R&amp;D\\c.json\"</CommandLine>"),
              std::string::npos);
    // The escaped name is what is searched for.
    EXPECT_TRUE(R::findEntry(doc, "a&b").found);
    EXPECT_FALSE(R::findEntry(doc, "A&amp;B").found);
}

TEST(ExeXmlDocumentTest, TextSharingTheEntrysLinesIsNeverTaken) {
    // A document on one line: the entry goes inside it, and removing it again
    // must not take the declaration and the other entries along.
    const std::string oneLine =
        "<?xml version=\"1.0\"?><SimBase.Document><Launch.Addon><Name>Other</Name>"
        "</Launch.Addon></SimBase.Document>";
    const std::string once = reg(oneLine);
    EXPECT_EQ(once.find("<?xml version=\"1.0\"?><SimBase.Document><Launch.Addon>"), 0u);
    EXPECT_EQ(reg(once), once);
    EXPECT_EQ(unreg(once), oneLine);
    // Another program's entry on the same line as ours stays.
    const std::string shared =
        "<Launch.Addon><Name>A</Name></Launch.Addon>  <Launch.Addon><Name>CorvaneHID</Name>"
        "</Launch.Addon><Launch.Addon><Name>B</Name></Launch.Addon>\n";
    EXPECT_EQ(unreg(shared),
              "<Launch.Addon><Name>A</Name></Launch.Addon><Launch.Addon><Name>B</Name>"
              "</Launch.Addon>\n");
    // An entry left without its closing tag does not swallow the next one.
    const std::string unclosed = "<Launch.Addon><Name>CorvaneHID</Name>\n" + kOther;
    EXPECT_FALSE(R::findEntry(unclosed, kName).found);
    EXPECT_EQ(unreg(reg(unclosed)), unclosed);
    EXPECT_EQ(unreg("<Launch.Addon><Name>X</Name>\n" + kEntry), "<Launch.Addon><Name>X</Name>\n");
}

// Random documents built from the pieces EXE.xml files are made of, plus junk.
std::string randomDocument(std::mt19937& rng) {
    static const std::vector<std::string> pieces = {
        "<?xml version=\"1.0\" encoding=\"Windows-1252\"?>",
        "<SimBase.Document Type=\"SimConnect\" version=\"1,0\">",
        "</SimBase.Document>",
        "</simbase.document>",
        "<!-- comment -->",
        "<Descr>SimConnect</Descr>",
        kOther,
        "<LAUNCH.ADDON><name> Tool </name></launch.addon>",
        "<Launch.Addon>\r\n\t<Name>Fly&amp;Go</Name>\r\n</Launch.Addon>",
        "<Launch.Addon><Name>Broken</Name>",
        "<Launch.Addon><Name>CorvaneHID</Name>",
        "</Launch.Addon>",
        "<Launch.Addon><Name></Name></Launch.Addon>",
        "<Name>CorvaneHID</Name>",
        "<launch.addon>\n<NAME> corvanehid </NAME>\n</launch.addon>"};
    static const std::vector<std::string> gaps = {"", "\n", "\r\n", "\r", " ", "\t", "  \r\n"};
    std::string doc;
    const int count = static_cast<int>(rng() % 12);
    for (int i = 0; i < count; ++i) {
        doc += gaps[rng() % gaps.size()];
        if (rng() % 8 == 0) {
            for (int n = static_cast<int>(rng() % 16); n > 0; --n)
                doc += static_cast<char>(rng());
        } else {
            doc += pieces[rng() % pieces.size()];
        }
    }
    return doc;
}

void expectByteProperties(const std::string& doc) {
    const std::string once = reg(doc);
    ASSERT_EQ(reg(once), once) << doc;
    const R::EntryRange before = R::findEntry(doc, kName);
    if (before.found) {
        EXPECT_EQ(once, doc.substr(0, before.start) + kEntry + doc.substr(before.end)) << doc;
        EXPECT_EQ(unreg(doc), doc.substr(0, before.start) + doc.substr(before.end)) << doc;
    } else if (doc.find_first_not_of(" \t\r\n\f\v") != std::string::npos) {
        const R::EntryRange added = R::findEntry(once, kName);
        ASSERT_TRUE(added.found) << doc;
        EXPECT_EQ(once.substr(added.start, added.end - added.start), kEntry) << doc;
        EXPECT_EQ(unreg(once), doc) << doc;
    }
}

TEST(ExeXmlPropertyTest, RegisterIsIdempotentAndOnlyOurLinesChange) {
    std::mt19937 rng(20240611);
    int withoutOurs = 0;
    for (int i = 0; i < 4000; ++i) {
        const std::string doc = randomDocument(rng);
        withoutOurs += R::findEntry(doc, kName).found ? 0 : 1;
        expectByteProperties(doc);
    }
    EXPECT_GT(withoutOurs, 1000);
}

TEST(ExeXmlPropertyTest, BinaryAndHugeDocuments) {
    std::string binary(4096, '\0');
    for (std::size_t i = 0; i < binary.size(); ++i)
        binary[i] = static_cast<char>(i * 7919 % 251);
    expectByteProperties(binary);
    std::string huge = "<SimBase.Document>\r\n";
    for (int i = 0; i < 40000; ++i)
        huge += "  <Launch.Addon><Name>T" + std::to_string(i) + "</Name>" + std::string(100, ' ') +
                "</Launch.Addon>\r\n";
    huge += "</SimBase.Document>\r\n";
    ASSERT_GT(huge.size(), 5000000u);
    expectByteProperties(huge);
    TempDir dir;
    std::string error;
    ASSERT_TRUE(R::writeWithBackup(dir.file("EXE.xml"), huge, error));
    EXPECT_EQ(R::readFile(dir.file("EXE.xml")), huge);
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
    const std::string original = "<SimBase.Document>\n" + kOther + "</SimBase.Document>\n";
    writeFileBytes(roaming(0), original);
    std::string error;
    EXPECT_EQ(registrar().registerAll(kName, kExe, kArgs, error), 2);
    const std::string first = readFileBytes(roaming(0));
    EXPECT_EQ(first, reg(original));
    EXPECT_EQ(readFileBytes(roaming(0) + ".bak"), original);
    EXPECT_EQ(readFileBytes(roaming(1)), reg(""));
    EXPECT_EQ(registrar().registerAll(kName, kExe, kArgs, error), 2);
    EXPECT_EQ(readFileBytes(roaming(0)), first);
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
    writeFileBytes(local(0), kOther);
    fs::create_directories(platform::toPath(local(1)));  // a folder stands in the way
    std::string error;
    EXPECT_EQ(registrar().registerAll(kName, kExe, kArgs, error), 1);
    EXPECT_EQ(error, "Failed to open for write: " + local(1));
    EXPECT_EQ(readFileBytes(local(0)), reg(kOther));
    EXPECT_EQ(readFileBytes(local(0) + ".bak"), kOther);
    EXPECT_TRUE(fs::is_directory(platform::toPath(local(1))));
    EXPECT_FALSE(fs::exists(platform::toPath(local(2))));
    EXPECT_FALSE(fs::exists(platform::toPath(local(1) + ".tmp")));
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
