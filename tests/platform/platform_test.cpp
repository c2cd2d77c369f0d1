#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>

#include "fakes/temp_dir.h"
#include "platform/console.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/shared_library.h"
#include "platform/single_instance.h"

namespace {

TEST(SingleInstanceTest, SecondHolderOfTheSameNameSeesTheFirst) {
    const std::string name = "Local\\CorvaneHID.test-" +
                             std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                             "-single";
    platform::SingleInstance first(name);
    ASSERT_EQ(first.state(), platform::SingleInstance::State::Acquired);
    {
        platform::SingleInstance second(name);
        EXPECT_EQ(second.state(), platform::SingleInstance::State::AlreadyRunning);
    }
    platform::SingleInstance other(name + "-other");
    EXPECT_EQ(other.state(), platform::SingleInstance::State::Acquired);
}

TEST(SingleInstanceTest, MarkerIsReleasedWithItsHolder) {
    const std::string name = "Local\\CorvaneHID.test-release";
    {
        platform::SingleInstance first(name);
        ASSERT_EQ(first.state(), platform::SingleInstance::State::Acquired);
    }
    platform::SingleInstance again(name);
    EXPECT_EQ(again.state(), platform::SingleInstance::State::Acquired);
}

std::atomic<int> g_stopRequests{0};
bool handleStop() {
    ++g_stopRequests;
    return true;
}
bool refuseStop() {
    return false;
}

// Windows ends the process as soon as the handler of a console close
// returns: that handler waits (bounded) until the stop has finished.
TEST(ConsoleStopTest, CloseWaitsUntilTheStopHasFinished) {
    using namespace std::chrono;
    EXPECT_FALSE(platform::runConsoleStopHandler(refuseStop, true, hours(1)));
    EXPECT_FALSE(platform::runConsoleStopHandler(nullptr, true, hours(1)));
    EXPECT_TRUE(platform::runConsoleStopHandler(handleStop, false, hours(1)));  // Ctrl+C

    const auto before = steady_clock::now();
    EXPECT_TRUE(platform::runConsoleStopHandler(handleStop, true, milliseconds(50)));
    EXPECT_GE(steady_clock::now() - before, milliseconds(45));

    std::atomic<bool> returned{false};
    std::thread closing([&] {
        EXPECT_TRUE(platform::runConsoleStopHandler(handleStop, true, hours(1)));
        returned = true;
    });
    std::this_thread::sleep_for(milliseconds(50));
    EXPECT_FALSE(returned);
    platform::consoleStopFinished();
    closing.join();
    EXPECT_TRUE(platform::runConsoleStopHandler(handleStop, true, hours(1)));  // no wait now
    EXPECT_EQ(g_stopRequests, 4);
}

TEST(PathsTest, ExecutablePathNamesThisTestProgram) {
    const std::string exe = platform::executablePath();
    ASSERT_FALSE(exe.empty());
    EXPECT_TRUE(std::filesystem::exists(platform::toPath(exe)));
    EXPECT_NE(exe.find("test_platform"), std::string::npos);
    EXPECT_FALSE(platform::parentPath(exe).empty());
}

TEST(PathsTest, JoinAndParentRoundTrip) {
    TempDir dir;
    const std::string joined = platform::joinPath(dir.path(), "config.json");
    EXPECT_EQ(platform::parentPath(joined), dir.path());
    EXPECT_EQ(platform::joinPath("", "name"), "name");
    EXPECT_EQ(platform::parentPath("plain"), "");
}

TEST(PathsTest, NarrowTextSurvivesTheNativeForm) {
    const std::string text = platform::joinPath("folder with blanks", "file&name.json");
    EXPECT_EQ(platform::fromPath(platform::toPath(text)), text);
}

TEST(PathsTest, CommonAppDataFolderIsKnown) {
    EXPECT_FALSE(platform::commonAppDataDir().empty());
}

TEST(EnvironmentTest, ReadsVariablesAndErrorTexts) {
    EXPECT_EQ(platform::getEnvironmentVariable("CORVANE_SURELY_UNSET_VARIABLE"), "");
    EXPECT_FALSE(platform::getEnvironmentVariable("PATH").empty());
    EXPECT_FALSE(platform::systemErrorText(2).empty());
}

// The system's C library is loaded by every program of either platform.
TEST(SharedLibraryTest, LoadsResolvesNamesAndReportsFailures) {
    const bool windows = platform::sharedLibraryFileName("c") == "c.dll";
    const std::string name = windows ? "msvcrt.dll" : "libc.so.6";
    std::string error;
    const std::unique_ptr<platform::SharedLibrary> library =
        platform::loadSharedLibrary(name, error);
    ASSERT_NE(library, nullptr) << error;
    EXPECT_TRUE(library->exports("malloc"));
    EXPECT_FALSE(library->exports("CorvaneSurelyMissingFunction"));
    EXPECT_NE(library->symbol("malloc"), nullptr);
    EXPECT_NE(library->filePath().find(windows ? "msvcrt" : "libc"), std::string::npos)
        << library->filePath();

    TempDir dir;
    EXPECT_EQ(platform::loadSharedLibrary(dir.file("absent.dll"), error), nullptr);
    EXPECT_FALSE(error.empty());
    error.clear();
    writeFileBytes(dir.file("text.dll"), "not a library");
    EXPECT_EQ(platform::loadSharedLibrary(dir.file("text.dll"), error), nullptr);
    EXPECT_FALSE(error.empty());
}

TEST(FilesTest, SameExistingFileComparesFilesNotTexts) {
    TempDir dir;
    const std::string a = dir.file("a.json");
    const std::string b = dir.file("b.json");
    writeFileBytes(a, "{}");
    writeFileBytes(b, "{}");
    EXPECT_TRUE(platform::sameExistingFile(a, a));
    EXPECT_TRUE(platform::sameExistingFile(a, platform::joinPath(dir.file("."), "a.json")));
    EXPECT_FALSE(platform::sameExistingFile(a, b));
    EXPECT_FALSE(platform::sameExistingFile(a, dir.file("absent.json")));
}

// What the program reads whole is a regular file of a few MiB at most:
// anything else is refused at once, without blocking or reading it all.
TEST(FilesTest, InputFilesAreRegularAndSmall) {
    using platform::InputFile;
    TempDir dir;
    std::string bytes = "untouched";
    unsigned long code = 0;
    const std::string fits(static_cast<std::size_t>(platform::kMaxInputFileBytes), 'x');
    writeFileBytes(dir.file("fits"), fits);
    EXPECT_EQ(platform::readInputFile(dir.file("fits"), bytes, code), InputFile::Ok);
    EXPECT_EQ(bytes, fits);
    bytes = "untouched";
    writeFileBytes(dir.file("big"), fits + "x");
    EXPECT_EQ(platform::readInputFile(dir.file("big"), bytes, code), InputFile::TooLarge);
    EXPECT_EQ(platform::readInputFile(dir.path(), bytes, code), InputFile::Folder);
    EXPECT_EQ(platform::readInputFile(dir.file("absent"), bytes, code), InputFile::NotFound);
    EXPECT_EQ(bytes, "untouched");
    EXPECT_EQ(platform::inputFileRefusal(InputFile::TooLarge), "larger than 4 MiB");
#ifndef _WIN32
    // No writer ever comes: a blocking open would hang here.
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
    EXPECT_EQ(platform::readInputFile(dir.file("fifo"), bytes, code), InputFile::NotRegular);
    EXPECT_EQ(platform::readInputFile("/dev/zero", bytes, code), InputFile::NotRegular);
    // A file that reports no size (as /proc files do) is still cut at the bound.
    EXPECT_EQ(platform::readInputFile(dir.file("big"), bytes, code, 100), InputFile::TooLarge);
    EXPECT_EQ(bytes, "untouched");
    EXPECT_EQ(platform::inputFileRefusal(InputFile::NotRegular), "not a regular file");
#endif
}

#ifndef _WIN32
// The Linux marker lives in XDG_RUNTIME_DIR, else in a folder of the user's
// own under TMPDIR; a link or another user's file or folder makes it
// Unavailable (the program then runs) rather than followed or obeyed.
class SingleInstancePosixTest : public ::testing::Test {
protected:
    void SetUp() override {
        saveVariable("XDG_RUNTIME_DIR", runtime_);
        saveVariable("TMPDIR", tmp_);
    }
    void TearDown() override {
        restoreVariable("XDG_RUNTIME_DIR", runtime_);
        restoreVariable("TMPDIR", tmp_);
    }
    static void saveVariable(const char* name, std::pair<bool, std::string>& saved) {
        const char* value = ::getenv(name);
        saved = {value != nullptr, value ? value : ""};
    }
    static void restoreVariable(const char* name, const std::pair<bool, std::string>& saved) {
        if (saved.first) {
            ::setenv(name, saved.second.c_str(), 1);
        } else {
            ::unsetenv(name);
        }
    }
    static platform::SingleInstance::State stateOf(const std::string& name) {
        return platform::SingleInstance(name).state();
    }

    TempDir dir_;
    std::pair<bool, std::string> runtime_;
    std::pair<bool, std::string> tmp_;
};

TEST_F(SingleInstancePosixTest, APlantedLinkIsNotFollowed) {
    using State = platform::SingleInstance::State;
    ::setenv("XDG_RUNTIME_DIR", dir_.path().c_str(), 1);
    ASSERT_EQ(::symlink(dir_.file("target").c_str(), dir_.file("Linked.lock").c_str()), 0);
    EXPECT_EQ(stateOf("Local\\Linked"), State::Unavailable);
    EXPECT_FALSE(std::filesystem::exists(dir_.file("target")));
    EXPECT_EQ(stateOf("Local\\Plain"), State::Acquired);
    EXPECT_TRUE(std::filesystem::exists(dir_.file("Plain.lock")));
    if (::geteuid() == 0) {
        // Another user's marker is not theirs to hold for this user.
        ASSERT_EQ(::chown(dir_.file("Plain.lock").c_str(), 4321, 4321), 0);
        EXPECT_EQ(stateOf("Local\\Plain"), State::Unavailable);
    }
}

TEST_F(SingleInstancePosixTest, WithoutARuntimeFolderAPrivateFolderHoldsTheMarker) {
    using State = platform::SingleInstance::State;
    ::unsetenv("XDG_RUNTIME_DIR");
    ::setenv("TMPDIR", dir_.path().c_str(), 1);
    const std::string folder = dir_.file("Own-" + std::to_string(::geteuid()));
    {
        platform::SingleInstance first("Local\\Own");
        EXPECT_EQ(first.state(), State::Acquired);
        EXPECT_EQ(stateOf("Local\\Own"), State::AlreadyRunning);
    }
    struct stat info {};
    ASSERT_EQ(::lstat(folder.c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_TRUE(std::filesystem::exists(folder + "/Own.lock"));

    // A folder others may write into, or a link in its place, is not used.
    const std::string open = dir_.file("Open-" + std::to_string(::geteuid()));
    ASSERT_EQ(::mkdir(open.c_str(), 0700), 0);
    ASSERT_EQ(::chmod(open.c_str(), 0777), 0);
    EXPECT_EQ(stateOf("Local\\Open"), State::Unavailable);
    EXPECT_FALSE(std::filesystem::exists(open + "/Open.lock"));
    ASSERT_EQ(::mkdir(dir_.file("elsewhere").c_str(), 0700), 0);
    ASSERT_EQ(::symlink(dir_.file("elsewhere").c_str(),
                        dir_.file("Link-" + std::to_string(::geteuid())).c_str()),
              0);
    EXPECT_EQ(stateOf("Local\\Link"), State::Unavailable);
    EXPECT_FALSE(std::filesystem::exists(dir_.file("elsewhere/Link.lock")));
}
#endif

}  // namespace
