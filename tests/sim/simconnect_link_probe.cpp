// Loads SimConnect.dll (libSimConnect.so on Linux) at run time as the
// program does when its configuration asks for the SDK's library: beside
// the executable, else on the system's search path.
//   simconnect_link_probe open        prints "open 0x<result>", or "load failed: <why>"
//   simconnect_link_probe mobiflight [log folder]  connects, registers with MobiFlight,
//                                     sends one RPN command; exit 0 on success
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "log/logger.h"
#include "platform/paths.h"
#include "sim/mobiflight_client.h"
#include "sim/simconnect_client.h"
#include "sim/simconnect_sdk_library.h"

namespace {

int probeOpen(simconnect::Library& library) {
    simconnect::HANDLE handle = nullptr;
    const simconnect::HRESULT result = library.open(&handle, "CorvaneHIDProbe");
    std::printf("open %s\n", SimConnectClient::formatResult(result).c_str());
    if (result >= 0) library.close(handle);
    return 0;
}

bool waitFor(bool (*condition)(MobiFlightClient&), MobiFlightClient& client) {
    for (int i = 0; i < 1000; ++i) {
        if (condition(client)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

int probeMobiFlight(simconnect::Library& library) {
    SimConnectClient simConnect(library, Clock::system(), [] { return true; });
    MobiFlightClient mobiflight;
    std::string error;
    if (!mobiflight.start(simConnect, MobiFlightSettings{}, error) ||
        !simConnect.start(
            "CorvaneHIDProbe", [&](bool c) { mobiflight.onSimConnectState(c); }, {}, error)) {
        std::printf("start failed: %s\n", error.c_str());
        return 1;
    }
    if (!waitFor([](MobiFlightClient& c) { return c.isReady(); }, mobiflight)) {
        std::printf("not registered\n");
        return 1;
    }
    if (!mobiflight.sendNow("1 (>K:PROBE)", error)) {
        std::printf("send failed: %s\n", error.c_str());
        return 1;
    }
    std::printf("registered and sent\n");
    mobiflight.stop();
    simConnect.stop();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "open";
    // An optional second argument is a folder for the log, echoed to the console.
    if (argc > 2) {
        Logger::instance().open(argv[2], "probe", 1 << 20, 1, true);
        Logger::instance().setDebugEnabled(true);
    }
    const simconnect::SdkLoad load =
        simconnect::loadSdkLibrary(platform::parentPath(platform::executablePath()));
    if (!load.library) {
        std::printf("load failed: %s\n", load.error.c_str());
        return 1;
    }
    std::printf("loaded %s\n", load.library->describe().c_str());
    if (mode == "open") return probeOpen(*load.library);
    if (mode == "mobiflight") return probeMobiFlight(*load.library);
    std::printf("unknown mode %s\n", mode.c_str());
    return 2;
}
