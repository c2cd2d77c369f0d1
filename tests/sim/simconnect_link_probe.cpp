// Loads SimConnect.dll (libSimConnect.so on Linux) at run time as the
// program does when its configuration asks for the SDK's library: beside
// the executable, else on the system's search path.
//   simconnect_link_probe open        prints "open 0x<result>", or "load failed: <why>"
//   simconnect_link_probe mobiflight [log folder]  connects, registers with MobiFlight,
//                                     sends one RPN command; exit 0 on success
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "log/logger.h"
#include "platform/paths.h"
#include "sim/mobiflight_session.h"
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

// What the SimConnect worker hands the probe's loop.
struct Inbox {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::function<void(MobiFlightSession&, Clock::TimePoint)>> events;

    void post(std::function<void(MobiFlightSession&, Clock::TimePoint)> event) {
        {
            std::lock_guard<std::mutex> guard(mutex);
            events.push_back(std::move(event));
        }
        changed.notify_one();
    }
};

// The session's loop on this thread until it is ready (at most 10 s).
bool runUntilReady(MobiFlightSession& session, Inbox& inbox) {
    Clock& clock = Clock::system();
    const Clock::TimePoint end = clock.now() + std::chrono::seconds(10);
    Clock::TimePoint next = session.tick(clock.now());
    while (!session.ready() && clock.now() < end) {
        std::unique_lock<std::mutex> lock(inbox.mutex);
        inbox.changed.wait_until(lock, std::min(next, end), [&] { return !inbox.events.empty(); });
        auto events = std::move(inbox.events);
        inbox.events.clear();
        lock.unlock();
        for (auto& event : events)
            event(session, clock.now());
        next = session.tick(clock.now());
    }
    return session.ready();
}

int probeMobiFlight(simconnect::Library& library) {
    SimConnectClient simConnect(library, Clock::system(), [] { return true; });
    MobiFlightSession session(simConnect, MobiFlightSettings{});
    Inbox inbox;
    simConnect.setClientDataHandler(
        [&](std::uint32_t requestId, const std::uint8_t* data, std::uint32_t size) {
            std::vector<std::uint8_t> bytes(data, data + (data ? size : 0));
            inbox.post([requestId, bytes](MobiFlightSession& s, Clock::TimePoint now) {
                s.onClientData(requestId, bytes, now);
            });
        });
    std::string error;
    const auto onConnection = [&](bool c) {
        inbox.post([c](MobiFlightSession& s, Clock::TimePoint now) { s.onLinkChange(c, now); });
    };
    if (!simConnect.start("CorvaneHIDProbe", onConnection, {}, error)) {
        std::printf("start failed: %s\n", error.c_str());
        return 1;
    }
    if (!runUntilReady(session, inbox)) {
        std::printf("not registered\n");
        simConnect.stop();
        return 1;
    }
    if (!session.sendNow("1 (>K:PROBE)", error, Clock::system().now())) {
        std::printf("send failed: %s\n", error.c_str());
        simConnect.stop();
        return 1;
    }
    std::printf("registered and sent\n");
    simConnect.stop();
    simConnect.setClientDataHandler({});
    session.stop();
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
