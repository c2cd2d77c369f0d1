#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <random>
#include <thread>

#include "fakes/log_capture.h"
#include "hid/hid_manager.h"
#include "hid_test_support.h"

using namespace hidtest;
using namespace std::chrono_literals;

namespace {

constexpr int kPanels = 4;
constexpr std::uint32_t kReportsPerPanel = 4000;
constexpr std::uint32_t kFinalReports = 200;

HidProtocol::HidEvent numbered(std::uint32_t sequence) {
    HidProtocol::HidEvent event;
    event.type = 1;
    event.value = 1;
    event.controlId = static_cast<std::uint16_t>(sequence & 0xFFFF);
    event.aux1 = static_cast<std::uint16_t>(sequence >> 16);
    return event;
}

// What the sink saw, per panel index.
class ConnectionLog {
public:
    HidManager::EventSink sink() {
        return [this](const HidProtocol::HidEvent& event, const std::string& name,
                      std::int32_t index) {
            std::lock_guard<std::mutex> lock(mutex_);
            auto& connection = connections_[index];
            if (!connection.name.empty() && connection.name != name) connection.mixed = true;
            connection.name = name;
            connection.sequences.push_back(static_cast<std::uint32_t>(event.aux1) << 16 |
                                           event.controlId);
        };
    }
    struct Connection {
        std::string name;
        bool mixed = false;  // events of two names under one index
        std::vector<std::uint32_t> sequences;
    };
    std::map<std::int32_t, Connection> snapshot() {
        std::lock_guard<std::mutex> lock(mutex_);
        return connections_;
    }

private:
    std::mutex mutex_;
    std::map<std::int32_t, Connection> connections_;
};

std::size_t finalReportsSeen(const std::map<std::int32_t, ConnectionLog::Connection>& all,
                             const std::string& name) {
    std::size_t count = 0;
    for (const auto& entry : all) {
        if (entry.second.name != name) continue;
        for (std::uint32_t s : entry.second.sequences)
            count += s >= kReportsPerPanel ? 1 : 0;
    }
    return count;
}

TEST(HidStressTest, ReportsArriveInOrderThroughReplugsAndConcurrentScans) {
    LogCapture log(false);
    emulation::VirtualHidBus bus;
    ConnectionLog received;
    HidManager hid(bus);
    std::vector<emulation::VirtualPanel> panels;
    std::vector<std::string> names;
    for (int i = 0; i < kPanels; ++i) {
        std::array<std::uint8_t, 8> board{};
        board[7] = static_cast<std::uint8_t>(i + 1);
        panels.push_back(bus.addPanel(panelSpec("/dev/p" + std::to_string(i), board)));
        names.push_back(HidProtocol::formatBoardId(board));
    }
    std::string error;
    ASSERT_TRUE(hid.start(settings(2), received.sink(), error)) << error;

    std::atomic<int> pushing{kPanels};
    std::vector<std::thread> threads;
    for (int i = 0; i < kPanels; ++i) {
        threads.emplace_back([&, i] {
            for (std::uint32_t s = 0; s < kReportsPerPanel; ++s) {
                panels[i].pushEvent(numbered(s));
                if (s % 16 == 0) std::this_thread::yield();
            }
            --pushing;
        });
    }
    std::atomic<bool> chaos{true};
    threads.emplace_back([&] {
        std::mt19937 random(7);
        while (pushing > 0) {
            auto& panel = panels[random() % kPanels];
            panel.unplug();
            std::this_thread::sleep_for(std::chrono::microseconds(random() % 2000));
            panel.plug();
            std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
        }
        chaos = false;
    });
    for (int t = 0; t < 2; ++t) {
        threads.emplace_back([&] {
            while (chaos)
                hid.scan();
        });
    }
    for (auto& thread : threads)
        thread.join();

    // Calm again: every panel must come back and deliver everything it sends.
    for (std::uint32_t s = kReportsPerPanel; s < kReportsPerPanel + kFinalReports; ++s) {
        for (auto& panel : panels)
            ASSERT_TRUE(panel.pushEvent(numbered(s)));
    }
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    for (;;) {
        hid.scan();
        const auto all = received.snapshot();
        bool complete = true;
        for (const auto& name : names)
            complete = complete && finalReportsSeen(all, name) == kFinalReports;
        if (complete) break;
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "final reports missing";
        std::this_thread::sleep_for(5ms);
    }

    const auto all = received.snapshot();
    std::size_t total = 0;
    for (const auto& [index, panel] : all) {
        // A panel keeps its index through every replug, and what it reads
        // comes in order without duplicates (an unplug drops what was queued).
        for (std::size_t k = 1; k < panel.sequences.size(); ++k) {
            ASSERT_GT(panel.sequences[k], panel.sequences[k - 1])
                << "index " << index << " of " << panel.name;
        }
        EXPECT_FALSE(panel.mixed) << "index " << index << " named both " << panel.name;
        total += panel.sequences.size();
    }
    EXPECT_EQ(all.size(), static_cast<std::size_t>(kPanels));
    EXPECT_GT(log.count("HID device connected: "), kPanels);  // replugs did happen
    EXPECT_GE(total, kPanels * kFinalReports);

    hid.stop();
    for (auto& panel : panels) {
        EXPECT_EQ(panel.openReadHandles(), 0);
        EXPECT_EQ(panel.openWriteHandles(), 0);
    }
}

}  // namespace
