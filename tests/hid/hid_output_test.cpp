#include <gtest/gtest.h>

#include <thread>

#include "fakes/log_capture.h"
#include "hid/hid_manager.h"
#include "hid_test_support.h"

using namespace hidtest;
using namespace std::chrono_literals;
using emulation::ReceivedReport;

namespace {

std::vector<std::uint8_t> bytesOf(const HidProtocol::Report& report) {
    return std::vector<std::uint8_t>(report.begin(), report.end());
}

const LedCommand kSteady{1, 200, 0, 0, 0, 0};
const LedCommand kFlash{3, 0, 4, 0, 150, 100};

class HidOutputTest : public ::testing::Test {
protected:
    void startManager() {
        std::string error;
        ASSERT_TRUE(hid.start(settings(), recorder.sink(), error)) << error;
    }
    emulation::VirtualPanel add(const std::string& path, const std::array<std::uint8_t, 8>& board) {
        return bus.addPanel(panelSpec(path, board));
    }

    LogCapture log;
    emulation::VirtualHidBus bus;
    EventRecorder recorder;
    HidManager hid{bus};
};

TEST_F(HidOutputTest, SimStatusIsWrittenOnlyWhenItChanges) {
    hid.setTrace(true);
    auto a = add("/dev/a", kBoardA);
    auto b = add("/dev/b", kBoardB);
    startManager();
    hid.setSimConnected(true);
    hid.setSimConnected(true);
    hid.setSimConnected(false);
    for (auto* panel : {&a, &b}) {
        const auto received = panel->received();
        ASSERT_EQ(received.size(), 2u);
        EXPECT_EQ(received[0].bytes, bytesOf(HidProtocol::buildSimStatusReport(true)));
        EXPECT_EQ(received[1].bytes, bytesOf(HidProtocol::buildSimStatusReport(false)));
        EXPECT_EQ(received[0].via, ReceivedReport::Via::WriteFile);
    }
    EXPECT_EQ(log.count("HID OUT sim_status device=E6614103E7452D2F bytes=32 data=1101"), 1);
    EXPECT_EQ(log.count("HID OUT sim_status device=0102030405060708 bytes=32 data=1100"), 1);
    EXPECT_EQ(log.count("HID OUT sim_status"), 4);
}

TEST_F(HidOutputTest, PanelConnectingLaterLearnsTheStoredStatusRightAfterItsConnectLine) {
    hid.setTrace(true);
    startManager();
    hid.setSimConnected(true);  // no panel yet: nothing written, but remembered
    EXPECT_EQ(log.count("HID OUT"), 0);
    auto a = add("/dev/a", kBoardA);
    hid.scan();
    ASSERT_EQ(a.receivedCount(), 1u);
    EXPECT_EQ(a.received()[0].bytes, bytesOf(HidProtocol::buildSimStatusReport(true)));
    const auto all = log.messages();
    const auto connected = std::find(all.begin(), all.end(),
                                     std::string("HID device connected: ") + kNameA + " index=0");
    ASSERT_NE(connected, all.end());
    ASSERT_NE(connected + 1, all.end());
    EXPECT_EQ((connected + 1)->rfind("HID OUT sim_status device=E6614103E7452D2F bytes=32", 0), 0u);

    // The status survives stop and start.
    hid.stop();
    startManager();
    EXPECT_EQ(a.receivedCount(), 2u);
}

TEST_F(HidOutputTest, FailedSimStatusWriteWarnsAndOtherPanelsAreStillWritten) {
    hid.setTrace(true);
    auto a = add("/dev/a", kBoardA);
    auto b = add("/dev/b", kBoardB);
    startManager();
    a.failWrites(31);
    hid.setSimConnected(true);
    EXPECT_EQ(
        log.messages("WARN"),
        std::vector<std::string>{"HID sim_status write failed for E6614103E7452D2F (err=31)"});
    EXPECT_EQ(log.count("HID OUT sim_status device=E6614103E7452D2F bytes=0 "), 1);
    EXPECT_EQ(b.receivedCount(), 1u);
    a.failWrites(0);
    hid.setSimConnected(true);  // unchanged: not retried
    EXPECT_EQ(a.receivedCount(), 0u);
}

TEST_F(HidOutputTest, IdenticalLedCommandsAreWrittenOnceUntilForgotten) {
    hid.setTrace(true);
    auto a = add("/dev/a", kBoardA);
    startManager();
    EXPECT_TRUE(hid.writeLedCommand(kNameA, 0, kFlash));
    EXPECT_TRUE(hid.writeLedCommand(kNameA, 0, kFlash));
    ASSERT_EQ(a.receivedCount(), 1u);
    EXPECT_EQ(a.received()[0].bytes, bytesOf(HidProtocol::buildLedCtlReport(kFlash)));
    hid.forgetLedCommand(kNameA, -1);
    EXPECT_TRUE(hid.writeLedCommand(kNameA, 0, kFlash));
    EXPECT_TRUE(hid.writeLedCommand(kNameA, 0, kSteady));
    EXPECT_EQ(a.receivedCount(), 3u);
    EXPECT_EQ(log.count("HID OUT led_ctl device=E6614103E7452D2F bytes=32 data=10030004960064"), 2);
    EXPECT_EQ(log.count("HID OUT led_ctl"), 3);
}

TEST_F(HidOutputTest, FailedLedWriteWarnsReturnsTrueAndIsNotRetriedForTheSameCommand) {
    hid.setTrace(true);
    auto a = add("/dev/a", kBoardA);
    startManager();
    a.failWrites(5);
    EXPECT_TRUE(hid.writeLedCommand(kNameA, 0, kSteady));
    // Changes failing the same way are counted, not warned line by line.
    EXPECT_TRUE(hid.writeLedCommand(kNameA, 0, kFlash));
    EXPECT_TRUE(hid.writeLedCommand(kNameA, 0, kSteady));
    EXPECT_EQ(log.messages("WARN"),
              std::vector<std::string>{"HID led_ctl write failed for E6614103E7452D2F (err=5)"});
    EXPECT_EQ(log.count("HID OUT led_ctl device=E6614103E7452D2F bytes=0 "), 3);
    a.failWrites(0);
    EXPECT_TRUE(hid.writeLedCommand(kNameA, 0, kSteady));
    EXPECT_EQ(a.receivedCount(), 0u);
    EXPECT_TRUE(hid.writeLedCommand(kNameA, 0, kFlash));
    EXPECT_EQ(a.receivedCount(), 1u);
}

TEST_F(HidOutputTest, PanelIsSelectedByNameThenByIndex) {
    auto a = add("/dev/a", kBoardA);  // index 0
    auto b = add("/dev/b", kBoardB);  // index 1
    startManager();
    EXPECT_TRUE(hid.writeLedCommand("", 1, kSteady));
    EXPECT_EQ(b.receivedCount(), 1u);
    EXPECT_TRUE(hid.writeLedCommand("NO-SUCH-PANEL", 0, kSteady));
    EXPECT_EQ(a.receivedCount(), 1u);
    EXPECT_TRUE(hid.writeLedCommand(kNameB, 0, kFlash));  // the name wins over the index
    EXPECT_EQ(b.receivedCount(), 2u);
    EXPECT_EQ(a.receivedCount(), 1u);
    EXPECT_FALSE(hid.writeLedCommand("NO-SUCH-PANEL", -1, kSteady));
    EXPECT_FALSE(hid.writeLedCommand("", 7, kSteady));
    EXPECT_TRUE(log.messages("WARN").empty());
}

TEST_F(HidOutputTest, ReconnectedPanelStartsWithoutRememberedLed) {
    auto a = add("/dev/a", kBoardA);
    startManager();
    EXPECT_TRUE(hid.writeLedCommand(kNameA, -1, kSteady));
    a.unplug();
    hid.scan();
    a.plug();
    hid.scan();
    a.clearReceived();
    EXPECT_TRUE(hid.writeLedCommand(kNameA, -1, kSteady));
    EXPECT_EQ(a.receivedCount(), 1u);
}

TEST_F(HidOutputTest, BootselWithoutPanelsOnlyWarns) {
    hid.setTrace(true);
    startManager();
    hid.sendBootsel();
    const std::vector<std::string> expected = {
        "HID OUT device_ctl action=2 data=1202" + std::string(60, '0'),
        "No HID device accepted BOOTSEL command"};
    EXPECT_EQ(log.messages(), expected);
}

TEST_F(HidOutputTest, BootselFallsBackToSetOutputReport) {
    auto a = add("/dev/a", kBoardA);
    auto b = add("/dev/b", kBoardB);
    auto c = add("/dev/c", {9, 9, 9, 9, 9, 9, 9, 9});
    c.failWriteOpen(true);  // no write handle: skipped
    startManager();
    b.failWrites(1167);
    hid.sendBootsel();
    const auto report = bytesOf(HidProtocol::buildDeviceCtlReport(2));
    ASSERT_EQ(a.receivedCount(), 1u);
    EXPECT_EQ(a.received()[0].via, ReceivedReport::Via::WriteFile);
    EXPECT_EQ(a.received()[0].bytes, report);
    ASSERT_EQ(b.receivedCount(), 1u);
    EXPECT_EQ(b.received()[0].via, ReceivedReport::Via::SetOutputReport);
    EXPECT_EQ(b.received()[0].bytes, report);
    EXPECT_TRUE(log.contains("BOOTSEL command sent to E6614103E7452D2F via WriteFile"));
    EXPECT_TRUE(log.contains("BOOTSEL command sent to 0102030405060708 via HidD_SetOutputReport"));
    EXPECT_FALSE(log.contains("No HID device accepted"));
}

TEST_F(HidOutputTest, BootselFailingBothWaysWarnsWithBothCodes) {
    auto a = add("/dev/a", kBoardA);
    startManager();
    a.failWrites(31);
    a.failSetOutputReport(87);
    hid.sendBootsel();
    const std::vector<std::string> expected = {
        "Failed to send BOOTSEL command to E6614103E7452D2F (WriteFile err=31, bytes=0, "
        "HidD_SetOutputReport err=87)",
        "No HID device accepted BOOTSEL command"};
    EXPECT_EQ(log.messages("WARN"), expected);
}

TEST_F(HidOutputTest, StalledWriteDoesNotHoldUpInputFromOtherPanels) {
    auto a = add("/dev/a", kBoardA);
    auto b = add("/dev/b", kBoardB);
    startManager();
    a.stallWrites(true);
    std::thread writer([&] { hid.writeLedCommand(kNameA, -1, kSteady); });
    ASSERT_TRUE(a.waitForStalledWrites(1, 2s));
    b.pushButton(1, 1);
    EXPECT_TRUE(recorder.waitForCount(1, 2s));
    a.stallWrites(false);
    writer.join();
    EXPECT_EQ(a.receivedCount(), 1u);
}

}  // namespace
