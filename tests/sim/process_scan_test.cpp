#include "platform/process_scan.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "emulation/emulator_library.h"
#include "fakes/log_capture.h"
#include "fakes/temp_dir.h"
#include "platform/paths.h"
#include "sim/simconnect_client.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

bool eventually(bool wanted, const std::vector<std::string>& names) {
    for (int i = 0; i < 200; ++i) {
        if (platform::isAnyProcessRunning(names) == wanted) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return false;
}

// Runs a copy of the helper program under the simulator's executable name.
class FakeSimulatorProcess {
public:
    explicit FakeSimulatorProcess(const std::string& folder) {
        const std::string here = platform::parentPath(platform::executablePath());
#ifdef _WIN32
        // Built as FlightSimulator.exe beside this test.
        std::string command = "\"" + platform::joinPath(here, "FlightSimulator.exe") + "\"";
        STARTUPINFOA startup{};
        startup.cb = sizeof(startup);
        started_ = CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                  folder.c_str(), &startup, &info_) != 0;
#else
        const std::string copy = platform::joinPath(folder, "FlightSimulator.exe");
        std::filesystem::copy_file(platform::joinPath(here, "fake_flight_simulator"), copy);
        std::filesystem::permissions(copy, std::filesystem::perms::owner_all);
        char* argv[] = {const_cast<char*>(copy.c_str()), nullptr};
        started_ = posix_spawn(&pid_, copy.c_str(), nullptr, nullptr, argv, environ) == 0;
#endif
    }
    ~FakeSimulatorProcess() {
        stop();
    }

    bool started() const {
        return started_;
    }

    void stop() {
        if (!started_) return;
        started_ = false;
#ifdef _WIN32
        TerminateProcess(info_.hProcess, 0);
        WaitForSingleObject(info_.hProcess, 10000);
        CloseHandle(info_.hThread);
        CloseHandle(info_.hProcess);
#else
        kill(pid_, SIGKILL);
        int status = 0;
        waitpid(pid_, &status, 0);
#endif
    }

private:
    bool started_ = false;
#ifdef _WIN32
    PROCESS_INFORMATION info_{};
#else
    pid_t pid_ = 0;
#endif
};

TEST(ProcessScanTest, NamesCompareWithoutCaseAndPathsLoseTheirFolders) {
    EXPECT_EQ(platform::executableBaseName("C:\\Games\\MSFS\\FlightSimulator.exe"),
              "FlightSimulator.exe");
    EXPECT_EQ(platform::executableBaseName("/opt/wine/FlightSimulator2024.exe"),
              "FlightSimulator2024.exe");
    EXPECT_EQ(platform::executableBaseName("plain"), "plain");
    EXPECT_TRUE(platform::matchesAnyName("FLIGHTSIMULATOR.EXE", {"x", "FlightSimulator.exe"}));
    EXPECT_FALSE(platform::matchesAnyName("FlightSimulator", {"FlightSimulator.exe"}));
    EXPECT_FALSE(platform::matchesAnyName("", {""}));
}

TEST(ProcessScanTest, FindsARunningSimulatorProcessAndLosesItAfterItEnds) {
    const std::vector<std::string> names{"flightsimulator.EXE"};
    // The process list is the machine's: a simulator (or another test's
    // stand-in) already running hides the end of ours.
    const bool anotherRuns = platform::isAnyProcessRunning(names);
    TempDir folder;
    FakeSimulatorProcess process(folder.path());
    ASSERT_TRUE(process.started());
    EXPECT_TRUE(eventually(true, names));
    {
        // The client's default probe finds it too: with no simulator behind
        // its library, the client goes on to try (and fail) to connect.
        LogCapture log;
        SimEmulator nothing;
        EmulatorLibrary library{nothing};
        SimConnectClient client{library};
        std::string error;
        ASSERT_TRUE(client.start("CorvaneHID", {}, {}, error)) << error;
        EXPECT_TRUE(
            log.waitFor("Waiting for SimConnect connection: SimConnect_Open failed (0x80004005)"));
        EXPECT_FALSE(log.contains("Waiting for flight simulator process to start"));
    }
    EXPECT_FALSE(platform::isAnyProcessRunning({"NoSuchSimulator.exe"}));
    process.stop();
    if (!anotherRuns) {
        EXPECT_TRUE(eventually(false, names));
    }
}

}  // namespace
