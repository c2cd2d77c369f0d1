#include <gtest/gtest.h>

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
    const std::string name = platform::librariesBesideExecutable() ? "msvcrt.dll" : "libc.so.6";
    std::string error;
    const std::unique_ptr<platform::SharedLibrary> library =
        platform::loadSharedLibrary(name, error);
    ASSERT_NE(library, nullptr) << error;
    EXPECT_TRUE(library->exports("malloc"));
    EXPECT_FALSE(library->exports("CorvaneSurelyMissingFunction"));

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

}  // namespace
