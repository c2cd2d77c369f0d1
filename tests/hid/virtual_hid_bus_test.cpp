#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "emulation/virtual_hid_bus.h"
#include "fakes/test_clocks.h"
#include "hid_test_support.h"

using namespace hidtest;
using namespace std::chrono_literals;
using ReadResult = platform::HidReadHandle::ReadResult;

namespace {

struct ReadOutcome {
    ReadResult result;
    std::size_t count;
    HidProtocol::Report bytes;
};

std::future<ReadOutcome> readAsync(platform::HidReadHandle& handle,
                                   std::chrono::milliseconds timeout) {
    return std::async(std::launch::async, [&handle, timeout] {
        ReadOutcome outcome{ReadResult::Failed, 0, {}};
        outcome.result =
            handle.read(outcome.bytes.data(), outcome.bytes.size(), outcome.count, timeout);
        return outcome;
    });
}

TEST(VirtualHidBusTest, ReadTimesOutByTheBusClockAndQueuedInputComesInOrder) {
    ManualClock clock;
    emulation::VirtualHidBus bus(clock);
    auto panel = bus.addPanel(panelSpec("/dev/a", kBoardA));
    panel.pushButton(1, 1);  // queued before any handle is open
    auto handle = bus.openRead("/dev/a");
    ASSERT_TRUE(handle);
    panel.pushButton(2, 1);
    for (std::uint16_t id : {1, 2}) {
        auto outcome = readAsync(*handle, 1000ms).get();
        ASSERT_EQ(outcome.result, ReadResult::Data);
        ASSERT_EQ(outcome.count, 32u);
        EXPECT_EQ(outcome.bytes[4], id);
    }
    auto pending = readAsync(*handle, 1000ms);
    EXPECT_EQ(pending.wait_for(50ms), std::future_status::timeout);  // clock stands still
    clock.advance(1000ms);
    EXPECT_EQ(pending.get().result, ReadResult::Timeout);
    EXPECT_EQ(panel.pendingInput(), 0u);
}

TEST(VirtualHidBusTest, CancelWakesABlockedReadAndEveryLaterOne) {
    emulation::VirtualHidBus bus;
    auto panel = bus.addPanel(panelSpec("/dev/a", kBoardA));
    auto handle = bus.openRead("/dev/a");
    auto pending = readAsync(*handle, 60000ms);
    std::this_thread::sleep_for(20ms);
    handle->cancel();
    ASSERT_EQ(pending.wait_for(2s), std::future_status::ready);
    EXPECT_EQ(pending.get().result, ReadResult::Failed);
    panel.pushButton(1, 1);
    EXPECT_EQ(readAsync(*handle, 60000ms).get().result, ReadResult::Failed);
}

TEST(VirtualHidBusTest, UnplugKillsHandlesForGoodAndHidesThePath) {
    emulation::VirtualHidBus bus;
    auto panel = bus.addPanel(panelSpec("/dev/a", kBoardA));
    auto reader = bus.openRead("/dev/a");
    auto writer = bus.openWrite("/dev/a");
    auto pending = readAsync(*reader, 60000ms);
    panel.pushButton(9, 1);
    EXPECT_EQ(pending.get().result, ReadResult::Data);
    panel.pushButton(9, 0);
    pending = readAsync(*reader, 60000ms);
    EXPECT_EQ(pending.get().result, ReadResult::Data);
    pending = readAsync(*reader, 60000ms);
    std::this_thread::sleep_for(20ms);
    panel.unplug();
    ASSERT_EQ(pending.wait_for(2s), std::future_status::ready);
    EXPECT_EQ(pending.get().result, ReadResult::Failed);
    EXPECT_TRUE(bus.enumerate().empty());
    std::uint16_t vid = 0;
    std::uint16_t pid = 0;
    EXPECT_FALSE(bus.probe("/dev/a", vid, pid));
    EXPECT_FALSE(bus.openRead("/dev/a"));
    EXPECT_FALSE(panel.pushButton(1, 1));

    panel.plug();
    EXPECT_EQ(bus.enumerate(), std::vector<std::string>{"/dev/a"});
    panel.pushButton(5, 1);
    EXPECT_EQ(readAsync(*reader, 0ms).get().result, ReadResult::Failed);  // the old handle
    std::size_t written = 0;
    unsigned long error = 0;
    const std::uint8_t report[32] = {0x11};
    EXPECT_FALSE(writer->write(report, 32, written, error));
    EXPECT_EQ(error, emulation::kErrorDeviceNotConnected);
    auto fresh = bus.openRead("/dev/a");
    auto outcome = readAsync(*fresh, 1000ms).get();
    EXPECT_EQ(outcome.result, ReadResult::Data);
    EXPECT_EQ(outcome.bytes[4], 5);
    EXPECT_EQ(panel.openReadHandles(), 2);
    reader.reset();
    fresh.reset();
    EXPECT_EQ(panel.openReadHandles(), 0);
}

TEST(VirtualHidBusTest, RawReportsAreCutToTheReadCapacity) {
    emulation::VirtualHidBus bus;
    auto panel = bus.addPanel(panelSpec("/dev/a", kBoardA));
    auto handle = bus.openRead("/dev/a");
    panel.pushRaw(std::vector<std::uint8_t>(40, 0x7E));
    panel.pushRaw({});
    auto outcome = readAsync(*handle, 1000ms).get();
    EXPECT_EQ(outcome.count, 32u);
    outcome = readAsync(*handle, 1000ms).get();
    EXPECT_EQ(outcome.result, ReadResult::Data);
    EXPECT_EQ(outcome.count, 0u);
}

TEST(VirtualHidBusTest, FeatureReportsArePresentAbsentOrFailing) {
    emulation::VirtualHidBus bus;
    auto description = panelSpec("/dev/a", kBoardA);
    description.protocol = HidProtocol::ProtocolInfo{2, 5, 1};
    auto panel = bus.addPanel(description);
    auto handle = bus.openRead("/dev/a");
    HidProtocol::Report buffer{};
    buffer[0] = 0x20;
    ASSERT_TRUE(handle->getFeature(buffer.data(), buffer.size()));
    EXPECT_EQ(buffer[11], 0xE6);
    buffer = {};
    buffer[0] = 0x21;
    ASSERT_TRUE(handle->getFeature(buffer.data(), buffer.size()));
    EXPECT_EQ(buffer[2], 5);
    buffer = {};
    buffer[0] = 0x30;
    EXPECT_FALSE(handle->getFeature(buffer.data(), buffer.size()));
    panel.removeFeatureReport(0x21);
    buffer[0] = 0x21;
    EXPECT_FALSE(handle->getFeature(buffer.data(), buffer.size()));
    panel.failFeatureReports(true);
    buffer[0] = 0x20;
    EXPECT_FALSE(handle->getFeature(buffer.data(), buffer.size()));
    std::string serial;
    EXPECT_TRUE(handle->serialNumber(serial));
    EXPECT_EQ(serial, "SN");
    panel.setSerial("");
    EXPECT_FALSE(handle->serialNumber(serial));
}

TEST(VirtualHidBusTest, StalledWriteBlocksUntilReleasedUnpluggedOrCancelled) {
    emulation::VirtualHidBus bus;
    auto panel = bus.addPanel(panelSpec("/dev/a", kBoardA));
    std::vector<std::string> observed;
    bus.setReceiveObserver([&](const std::string& path, const emulation::ReceivedReport&) {
        observed.push_back(path);
    });
    auto writer = bus.openWrite("/dev/a");
    const std::uint8_t report[32] = {0x10, 1};
    panel.stallWrites(true);
    auto write = [&] {
        return std::async(std::launch::async, [&] {
            std::size_t written = 0;
            unsigned long error = 0;
            const bool ok = writer->write(report, 32, written, error);
            return ok ? 0ul : error;
        });
    };
    auto first = write();
    ASSERT_TRUE(panel.waitForStalledWrites(1, 2s));
    EXPECT_EQ(first.wait_for(20ms), std::future_status::timeout);
    panel.stallWrites(false);
    EXPECT_EQ(first.get(), 0ul);
    EXPECT_EQ(observed, std::vector<std::string>{"/dev/a"});

    panel.stallWrites(true);
    auto second = write();
    ASSERT_TRUE(panel.waitForStalledWrites(1, 2s));
    panel.unplug();
    EXPECT_EQ(second.get(), emulation::kErrorDeviceNotConnected);
    EXPECT_EQ(panel.receivedCount(), 1u);

    // A cancel releases a stalled write, and fails every later one at once.
    panel.plug();
    writer = bus.openWrite("/dev/a");
    auto third = write();
    ASSERT_TRUE(panel.waitForStalledWrites(1, 2s));
    writer->cancel();
    EXPECT_EQ(third.get(), emulation::kErrorOperationAborted);
    EXPECT_EQ(write().get(), emulation::kErrorOperationAborted);
    unsigned long error = 0;
    EXPECT_FALSE(writer->setOutputReport(report, 32, error));
    EXPECT_EQ(error, emulation::kErrorOperationAborted);
    EXPECT_EQ(panel.receivedCount(), 1u);
}

// A panel written to for hours keeps only the latest reports (as many as
// its bus was told), and the count.
TEST(VirtualHidBusTest, RecordingsKeepTheLatestReportsAndCountAll) {
    constexpr std::size_t kKept = 16;
    emulation::VirtualHidBus bus(Clock::system(), kKept);
    auto panel = bus.addPanel(panelSpec("/dev/a", kBoardA));
    auto writer = bus.openWrite("/dev/a");
    const std::size_t total = kKept + 10;
    for (std::size_t i = 0; i < total; ++i) {
        std::uint8_t report[2] = {0x10, static_cast<std::uint8_t>(i)};
        std::size_t written = 0;
        unsigned long error = 0;
        ASSERT_TRUE(writer->write(report, sizeof report, written, error));
    }
    EXPECT_EQ(panel.receivedCount(), total);
    EXPECT_TRUE(panel.waitForReceived(total, 0ms));
    const auto kept = panel.received();
    ASSERT_EQ(kept.size(), kKept);
    EXPECT_EQ(kept.front().bytes[1], static_cast<std::uint8_t>(10));
    EXPECT_EQ(kept.back().bytes[1], static_cast<std::uint8_t>(total - 1));
    panel.clearReceived();
    EXPECT_EQ(panel.receivedCount(), 0u);
}

TEST(VirtualHidBusTest, OpenAndEnumerationFailures) {
    emulation::VirtualHidBus bus;
    auto panel = bus.addPanel(panelSpec("/dev/a", kBoardA));
    EXPECT_EQ(bus.addPanel(panelSpec("/dev/a", kBoardB)).path(), "/dev/a");
    EXPECT_EQ(bus.panels().size(), 1u);
    panel.failReadOpen(true);
    panel.failWriteOpen(true);
    EXPECT_FALSE(bus.openRead("/dev/a"));
    EXPECT_FALSE(bus.openWrite("/dev/a"));
    bus.failEnumeration(true);
    EXPECT_TRUE(bus.enumerate().empty());
    EXPECT_FALSE(bus.find("/dev/missing"));
    std::array<std::uint8_t, 8> board{};
    ASSERT_TRUE(emulation::boardIdFromText("E6614103e7452D2F", board));
    EXPECT_EQ(board, kBoardA);
    EXPECT_FALSE(emulation::boardIdFromText("E6614103E7452D2", board));
    EXPECT_FALSE(emulation::boardIdFromText("E6614103E7452D2G", board));
}

}  // namespace
