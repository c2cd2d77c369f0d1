#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/clock.h"
#include "hid/hid_protocol.h"
#include "platform/hid_bus.h"

struct HidSettings {
    std::string vid;
    std::string pid;
    std::int32_t readIntervalMs = 2;
    std::int32_t scanIntervalMs = 1000;
};

struct HidDeviceInfo {
    std::string name;
    std::int32_t index = -1;
};

// Finds the panels by vendor and product id, opens each with its own reader
// thread, hands decoded events to the sink, rescans periodically, and writes
// the output reports (simulator status, LED state, BOOTSEL).
//
// Threads: start/stop/setTrace from the owner's thread; scan() from the scan
// thread and the device watcher's thread; the queries and output operations
// from any thread. stop() must not be called from the scan thread, a reader
// thread or the sink.
class HidManager {
public:
    using EventSink =
        std::function<void(const HidProtocol::HidEvent&, const std::string& name, std::int32_t index)>;

    explicit HidManager(platform::HidBus& bus, Clock& clock = Clock::system());
    ~HidManager();

    void setTrace(bool on);
    bool start(const HidSettings& settings, EventSink sink, std::string& error);
    void stop();
    void scan();

    std::vector<HidDeviceInfo> listDevices();
    std::size_t deviceCount();

    void setSimConnected(bool connected);
    bool writeLedCommand(const std::string& name, std::int32_t index, const LedCommand& command);
    void forgetLedCommand(const std::string& name, std::int32_t index);
    void sendBootsel();

    HidManager(const HidManager&) = delete;
    HidManager& operator=(const HidManager&) = delete;

private:
    platform::HidBus& bus_;
    Clock& clock_;
    std::atomic<bool> running_{false};
};
