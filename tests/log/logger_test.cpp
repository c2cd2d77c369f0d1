#include "log/logger.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "fakes/temp_dir.h"
#include "fakes/test_clocks.h"
#include "platform/paths.h"

namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t kMaxBytes = 5242880;

// The machine's file system, except that renames of chosen files fail
// (as on Windows while another program holds them without delete sharing).
class BlockingFileSystem final : public LogFileSystem {
public:
    bool exists(const std::string& path) override { return system().exists(path); }
    bool size(const std::string& path, std::uint64_t& bytes) override {
        return system().size(path, bytes);
    }
    bool rename(const std::string& from, const std::string& to) override {
        if (from == blocked) {
            ++refused;
            return false;
        }
        return system().rename(from, to);
    }
    void remove(const std::string& path) override { system().remove(path); }

    std::string blocked;
    int refused = 0;
};

class LoggerTest : public ::testing::Test {
protected:
    void TearDown() override {
        Logger::instance().setDebugEnabled(false);
        Logger::instance().close();
        Logger::instance().setFileSystem(nullptr);
        Logger::instance().setClock(nullptr);
    }

    void openLogger(std::uint64_t maxBytes = kMaxBytes, std::int32_t maxFiles = 5) {
        Logger::instance().open(dir.path(), "CorvaneHID", maxBytes, maxFiles, false);
    }

    std::string logPath(const std::string& suffix = "") const {
        return dir.file("CorvaneHID.log" + suffix);
    }

    bool exists(const std::string& path) const { return fs::exists(platform::toPath(path)); }

    std::vector<std::string> lines(const std::string& path) const {
        std::vector<std::string> result;
        std::istringstream in(readFileBytes(path));
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            result.push_back(line);
        }
        return result;
    }

    TempDir dir;
};

TEST_F(LoggerTest, LinesCarryTimestampLabelAndMessage) {
    openLogger();
    Logger::instance().log(LogLevel::Info, "one");
    Logger::instance().log(LogLevel::Warn, "two");
    Logger::instance().log(LogLevel::Error, "three");
    Logger::instance().log(static_cast<LogLevel>(7), "unknown level");
    Logger::instance().log(static_cast<LogLevel>(-1), "negative level");
    Logger::instance().setDebugEnabled(true);
    Logger::instance().debug("four <tag> 100%");

    const auto got = lines(logPath());
    ASSERT_EQ(got.size(), 6u);
    const std::regex format(
        R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2} \[(INFO|WARN|ERROR|DEBUG)\] .*$)");
    for (const auto& line : got)
        EXPECT_TRUE(std::regex_match(line, format)) << line;
    EXPECT_EQ(got[0].substr(20), "[INFO] one");
    EXPECT_EQ(got[1].substr(20), "[WARN] two");
    EXPECT_EQ(got[2].substr(20), "[ERROR] three");
    EXPECT_EQ(got[3].substr(20), "[INFO] unknown level");
    EXPECT_EQ(got[4].substr(20), "[INFO] negative level");
    EXPECT_EQ(got[5].substr(20), "[DEBUG] four <tag> 100%");
}

// A message never starts a line of its own or reaches the terminal as an
// escape sequence, whoever forgot to quote outside text safely.
TEST_F(LoggerTest, ControlBytesInAMessageStayOnItsLine) {
    openLogger();
    Logger::instance().log(LogLevel::Warn,
                           "payload: 1\r\n2026-01-01 00:00:00 [ERROR] FORGED\x1b[2J\t\x7f é");
    const auto got = lines(logPath());
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].substr(20),
              "[WARN] payload: 1\\x0D\\x0A2026-01-01 00:00:00 [ERROR] FORGED\\x1B[2J\\x09\\x7F é");
}

// A directory stands where the file should be: the lines are counted, and
// the first line the file takes again says how many were lost.
TEST_F(LoggerTest, LostLinesAreAdmittedOnceWritingWorksAgain) {
    fs::create_directories(platform::toPath(logPath()));
    ::testing::internal::CaptureStdout();
    Logger::instance().open(dir.path(), "CorvaneHID", kMaxBytes, 5, true);
    for (int i = 0; i < 3; ++i)
        Logger::instance().log(LogLevel::Info, "lost " + std::to_string(i));
    fs::remove(platform::toPath(logPath()));
    Logger::instance().log(LogLevel::Info, "back");
    Logger::instance().log(LogLevel::Info, "and on");
    const std::string console = ::testing::internal::GetCapturedStdout();

    const auto got = lines(logPath());
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].substr(20, 36), "[WARN] 3 log lines lost: cannot open");
    EXPECT_NE(got[0].find(logPath()), std::string::npos) << got[0];
    EXPECT_EQ(got[1].substr(20), "[INFO] back");
    EXPECT_EQ(got[2].substr(20), "[INFO] and on");
    EXPECT_NE(console.find("lost 2"), std::string::npos);
    EXPECT_NE(console.find("[WARN] 3 log lines lost: "), std::string::npos);
}

TEST_F(LoggerTest, DebugLinesOffDoNotTouchTheFile) {
    openLogger();
    Logger::instance().close();
    fs::remove(platform::toPath(logPath()));
    Logger::instance().setDebugEnabled(false);
    Logger::instance().debug("hidden");
    EXPECT_FALSE(exists(logPath()));
    // A normal line reopens the closed file on demand.
    Logger::instance().log(LogLevel::Info, "visible");
    ASSERT_TRUE(exists(logPath()));
    EXPECT_EQ(lines(logPath()).size(), 1u);
}

TEST_F(LoggerTest, RotatesAtExactlyMaxBytesButNotBelow) {
    writeFileBytes(logPath(), std::string(kMaxBytes - 1, 'x'));
    openLogger();
    Logger::instance().log(LogLevel::Info, "below threshold");
    EXPECT_FALSE(exists(logPath(".1")));

    Logger::instance().close();
    writeFileBytes(logPath(), std::string(kMaxBytes, 'x'));
    openLogger();
    Logger::instance().log(LogLevel::Info, "at threshold");
    ASSERT_TRUE(exists(logPath(".1")));
    EXPECT_EQ(fs::file_size(platform::toPath(logPath(".1"))), kMaxBytes);
    const auto current = lines(logPath());
    ASSERT_EQ(current.size(), 1u);
    EXPECT_NE(current[0].find("at threshold"), std::string::npos);
}

TEST_F(LoggerTest, RotationShiftsNumberedFilesAndDropsTheOldest) {
    for (int i = 1; i <= 5; ++i)
        writeFileBytes(logPath("." + std::to_string(i)), "old" + std::to_string(i));
    writeFileBytes(logPath(), std::string(100, 'c'));
    openLogger(100, 5);
    Logger::instance().log(LogLevel::Info, "fresh");

    EXPECT_EQ(readFileBytes(logPath(".1")), std::string(100, 'c'));
    for (int i = 2; i <= 5; ++i) {
        EXPECT_EQ(readFileBytes(logPath("." + std::to_string(i))), "old" + std::to_string(i - 1));
    }
    EXPECT_FALSE(exists(logPath(".6")));
    const auto current = lines(logPath());
    ASSERT_EQ(current.size(), 1u);
    EXPECT_NE(current[0].find("fresh"), std::string::npos);
}

// Five rotated logs and a full current one whose content is known.
class HeldLogTest : public LoggerTest {
protected:
    void SetUp() override {
        for (int i = 1; i <= 5; ++i)
            writeFileBytes(logPath("." + std::to_string(i)), "old" + std::to_string(i) + "\n");
        writeFileBytes(logPath(), std::string(99, 'c') + "\n");
        Logger::instance().setFileSystem(&files);
        Logger::instance().setClock(&clock);
        openLogger(100, 5);
    }
    void expectHistoryUntouched() {
        for (int i = 1; i <= 5; ++i) {
            EXPECT_EQ(readFileBytes(logPath("." + std::to_string(i))),
                      "old" + std::to_string(i) + "\n");
        }
    }
    void expectRotatedOnce(std::size_t linesInCurrent) {
        const auto rotated = lines(logPath(".1"));
        ASSERT_FALSE(rotated.empty());
        EXPECT_EQ(rotated[0], std::string(99, 'c'));
        for (int i = 2; i <= 5; ++i) {
            EXPECT_EQ(readFileBytes(logPath("." + std::to_string(i))),
                      "old" + std::to_string(i - 1) + "\n");
        }
        EXPECT_FALSE(exists(logPath(".6")));
        EXPECT_FALSE(exists(logPath(".rotating")));
        EXPECT_EQ(lines(logPath()).size(), linesInCurrent);
    }

    BlockingFileSystem files;
    ManualClock clock;
};

TEST_F(HeldLogTest, UnrenamableLogKeepsHistoryAndIsRetriedOnceAMinute) {
    files.blocked = logPath();
    for (int i = 0; i < 50; ++i)
        Logger::instance().log(LogLevel::Info, "line " + std::to_string(i));
    EXPECT_EQ(files.refused, 1);
    expectHistoryUntouched();
    EXPECT_EQ(lines(logPath()).size(), 51u);  // nothing lost, the file grows

    clock.advance(std::chrono::seconds(59));
    Logger::instance().log(LogLevel::Info, "still held");
    EXPECT_EQ(files.refused, 1);
    clock.advance(std::chrono::seconds(1));
    Logger::instance().log(LogLevel::Info, "tried again");
    EXPECT_EQ(files.refused, 2);
    expectHistoryUntouched();

    files.blocked.clear();  // the viewer was closed
    clock.advance(std::chrono::seconds(60));
    Logger::instance().log(LogLevel::Info, "rotated");
    expectRotatedOnce(1);
    EXPECT_EQ(lines(logPath(".1")).size(), 53u);
}

// A numbered file that cannot move stops the shift; the current file goes
// back in place, and the retry moves only what is left to move.
TEST_F(HeldLogTest, StuckNumberedFileCostsNoFile) {
    files.blocked = logPath(".3");
    Logger::instance().log(LogLevel::Info, "first");
    EXPECT_EQ(files.refused, 1);
    EXPECT_EQ(lines(logPath()).size(), 2u);
    EXPECT_EQ(lines(logPath())[1].substr(20), "[INFO] first");
    for (const char* kept : {"old1", "old2", "old3", "old4", "old5"}) {
        bool found = false;
        for (int i = 1; i <= 6; ++i) {
            const std::string file = logPath("." + std::to_string(i));
            found = found || (exists(file) && readFileBytes(file) == std::string(kept) + "\n");
        }
        EXPECT_TRUE(found) << kept;
    }
    files.blocked.clear();
    clock.advance(std::chrono::seconds(60));
    Logger::instance().log(LogLevel::Info, "second");
    expectRotatedOnce(1);
}

// A file left aside by a rotation cut short is placed before the next one.
TEST_F(HeldLogTest, FileLeftAsideIsPlacedFirst) {
    writeFileBytes(logPath(".rotating"), "cut short\n");
    Logger::instance().log(LogLevel::Info, "a");
    Logger::instance().log(LogLevel::Info, "b");
    EXPECT_EQ(readFileBytes(logPath(".2")), "cut short\n");
    EXPECT_EQ(lines(logPath(".1")).size(), 2u);  // the full file and "a"
    EXPECT_EQ(lines(logPath()).size(), 1u);
    EXPECT_FALSE(exists(logPath(".rotating")));
}

TEST_F(LoggerTest, OpenRemovesStaleRotatedFilesOnly) {
    writeFileBytes(logPath(".5"), "kept");
    writeFileBytes(logPath(".6"), "stale");
    writeFileBytes(logPath(".12"), "stale");
    writeFileBytes(logPath(".37"), "stale");
    writeFileBytes(logPath(".38"), "beyond the cleanup window");
    openLogger();
    EXPECT_TRUE(exists(logPath(".5")));
    EXPECT_FALSE(exists(logPath(".6")));
    EXPECT_FALSE(exists(logPath(".12")));
    EXPECT_FALSE(exists(logPath(".37")));
    EXPECT_TRUE(exists(logPath(".38")));
}

TEST_F(LoggerTest, ZeroMaxBytesOrNoFilesDisablesRotation) {
    writeFileBytes(logPath(), std::string(200, 'x'));
    openLogger(0, 5);
    Logger::instance().log(LogLevel::Info, "a");
    EXPECT_FALSE(exists(logPath(".1")));
    Logger::instance().close();
    openLogger(100, 0);
    Logger::instance().log(LogLevel::Info, "b");
    EXPECT_FALSE(exists(logPath(".1")));
}

TEST_F(LoggerTest, EmptyDirectoryWritesIntoTheCurrentFolder) {
    const fs::path before = fs::current_path();
    fs::current_path(platform::toPath(dir.path()));
    Logger::instance().open("", "CorvaneHID", kMaxBytes, 5, false);
    Logger::instance().log(LogLevel::Info, "here");
    Logger::instance().close();
    fs::current_path(before);
    EXPECT_EQ(lines(logPath()).size(), 1u);
}

TEST_F(LoggerTest, CreatesMissingFolders) {
    const std::string nested = platform::joinPath(dir.path(), "a/b/logs");
    Logger::instance().open(nested, "CorvaneHID", kMaxBytes, 5, false);
    Logger::instance().log(LogLevel::Info, "nested");
    EXPECT_TRUE(exists(platform::joinPath(nested, "CorvaneHID.log")));
}

TEST_F(LoggerTest, UnopenableFileKeepsConsoleEchoAndNeverThrows) {
    // A plain file stands where the log folder should be.
    const std::string blocker = dir.file("blocker");
    writeFileBytes(blocker, "not a folder");
    const std::string folder = platform::joinPath(blocker, "logs");
    ::testing::internal::CaptureStdout();
    Logger::instance().open(folder, "CorvaneHID", kMaxBytes, 5, true);
    Logger::instance().log(LogLevel::Warn, "still echoed");
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("[WARN] still echoed"), std::string::npos);
    EXPECT_FALSE(exists(platform::joinPath(folder, "CorvaneHID.log")));
}

TEST_F(LoggerTest, ConcurrentWritersProduceWholeLines) {
    openLogger();
    constexpr int kPerThread = 2000;
    const std::string a(120, 'a');
    const std::string b(120, 'b');
    std::thread t1([&] {
        for (int i = 0; i < kPerThread; ++i)
            Logger::instance().log(LogLevel::Info, a);
    });
    std::thread t2([&] {
        for (int i = 0; i < kPerThread; ++i)
            Logger::instance().log(LogLevel::Warn, b);
    });
    t1.join();
    t2.join();
    const auto got = lines(logPath());
    ASSERT_EQ(got.size(), 2u * kPerThread);
    for (const auto& line : got) {
        const bool whole = line.substr(20) == "[INFO] " + a || line.substr(20) == "[WARN] " + b;
        ASSERT_TRUE(whole) << line;
    }
}

TEST_F(LoggerTest, RotationUnderConcurrentLoadLosesNoLine) {
    openLogger(4096, 50);
    constexpr int kPerThread = 500;
    auto writer = [](char c) {
        for (int i = 0; i < kPerThread; ++i)
            Logger::instance().log(LogLevel::Info, std::string(60, c));
    };
    std::thread t1(writer, 'x');
    std::thread t2(writer, 'y');
    t1.join();
    t2.join();
    Logger::instance().close();
    std::size_t total = lines(logPath()).size();
    for (int i = 1; i <= 50; ++i) {
        const std::string rotated = logPath("." + std::to_string(i));
        if (exists(rotated)) total += lines(rotated).size();
    }
    EXPECT_EQ(total, 2u * kPerThread);
}

}  // namespace
