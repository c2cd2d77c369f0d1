#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "emulation/virtual_hid_bus.h"
#include "fakes/panels.h"
#include "hid/hid_manager.h"

// Shared by the HID manager suites: ids of the configured panels, a panel
// description builder and a thread-safe recorder of what the event sink received.
namespace hidtest {

constexpr std::uint16_t kVid = 0x1A2B;
constexpr std::uint16_t kPid = 0x3C4D;
constexpr std::array<std::uint8_t, 8> kBoardA = {0xE6, 0x61, 0x41, 0x03, 0xE7, 0x45, 0x2D, 0x2F};
constexpr std::array<std::uint8_t, 8> kBoardB = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
constexpr const char* kNameA = "E6614103E7452D2F";
constexpr const char* kNameB = "0102030405060708";

inline HidSettings settings(std::int32_t scanIntervalMs = 60000) {
    HidSettings s;
    s.vid = "1A2B";
    s.pid = "0x3c4d";
    s.scanIntervalMs = scanIntervalMs;
    return s;
}

inline emulation::VirtualPanelSpec panelSpec(const std::string& path,
                                             const std::array<std::uint8_t, 8>& board,
                                             const std::string& serial = "SN") {
    return fakes::panelSpec(path, board, serial, false, kVid, kPid);
}

struct Received {
    HidProtocol::HidEvent event;
    std::string name;
    std::int32_t index;
};

class EventRecorder {
public:
    HidManager::EventSink sink() {
        return [this](const HidProtocol::HidEvent& event, const std::string& name,
                      std::int32_t index) {
            std::lock_guard<std::mutex> lock(mutex_);
            events_.push_back({event, name, index});
            changed_.notify_all();
        };
    }
    bool waitForCount(std::size_t count,
                      std::chrono::milliseconds timeout = std::chrono::milliseconds(5000)) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return events_.size() >= count; });
    }
    std::vector<Received> events() {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Received> events_;
};

}  // namespace hidtest
