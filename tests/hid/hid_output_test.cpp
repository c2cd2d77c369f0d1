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
const LedCommand kDim{1, 20, 0, 0, 0, 0};

// Writes happen on each panel's writer thread: the tests wait for the
// reports (and for the trace lines the writer logs after each write). A
// status change sent after an LED command is written after it (the writer
// takes the LED report first), so it shows that the command was dealt with.
class HidOutputTest : public ::testing::Test {
protected:
    void startManager() {
        std::string error;
        ASSERT_TRUE(hid.start(settings(), recorder.sink(), error)) << error;
    }
    emulation::VirtualPanel add(const std::string& path, const std::array<std::uint8_t, 8>& board) {
        return bus.addPanel(panelSpec(path, board));
    }
    // Real-time poll until `text` occurs `count` times in the log.
    bool waitLog(const std::string& text, int count) {
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (log.count(text) < count) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(1ms);
        }
        return true;
    }
    static std::vector<std::uint8_t> status(bool connected) {
        return bytesOf(HidProtocol::buildSimStatusReport(connected));
    }
    static std::vector<std::uint8_t> led(const LedCommand& command) {
        return bytesOf(HidProtocol::buildLedCtlReport(command));
    }
    static std::vector<std::vector<std::uint8_t>> bytes(const emulation::VirtualPanel& panel) {
        std::vector<std::vector<std::uint8_t>> all;
        for (const auto& report : panel.received())
            all.push_back(report.bytes);
        return all;
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
    ASSERT_TRUE(a.waitForReceived(1, 5s) && b.waitForReceived(1, 5s));
    hid.setSimConnected(true);
    hid.setSimConnected(false);
    for (auto* panel : {&a, &b}) {
        ASSERT_TRUE(panel->waitForReceived(2, 5s));
        EXPECT_EQ(bytes(*panel),
                  (std::vector<std::vector<std::uint8_t>>{status(true), status(false)}));
        EXPECT_EQ(panel->received()[0].via, ReceivedReport::Via::WriteFile);
    }
    ASSERT_TRUE(waitLog("HID OUT sim_status", 4));
    EXPECT_EQ(log.count("HID OUT sim_status device=E6614103E7452D2F bytes=32 data=1101"), 1);
    EXPECT_EQ(log.count("HID OUT sim_status device=0102030405060708 bytes=32 data=1100"), 1);
}

// Also the first write to a panel, which is not warned about when it fails.
TEST_F(HidOutputTest, PanelConnectingLaterLearnsTheStoredStatusAfterItsConnectLine) {
    hid.setTrace(true);
    startManager();
    hid.setSimConnected(true);  // no panel yet: nothing written, but remembered
    EXPECT_EQ(log.count("HID OUT"), 0);
    auto a = add("/dev/a", kBoardA);
    auto b = add("/dev/b", kBoardB);
    b.failWrites(31);
    hid.scan();
    ASSERT_TRUE(a.waitForReceived(1, 5s));
    EXPECT_EQ(bytes(a), std::vector<std::vector<std::uint8_t>>{status(true)});
    ASSERT_TRUE(waitLog("HID OUT sim_status device=0102030405060708 bytes=0 ", 1));
    ASSERT_TRUE(waitLog("HID OUT sim_status device=E6614103E7452D2F bytes=32", 1));
    const auto all = log.messages();
    const auto connected = std::find(all.begin(), all.end(),
                                     std::string("HID device connected: ") + kNameA + " index=0");
    const auto written = std::find_if(all.begin(), all.end(), [](const std::string& line) {
        return line.rfind("HID OUT sim_status device=E6614103E7452D2F bytes=32", 0) == 0;
    });
    EXPECT_LT(connected, written);
    EXPECT_TRUE(log.messages("WARN").empty());

    // The status survives stop and start.
    hid.stop();
    startManager();
    EXPECT_TRUE(a.waitForReceived(2, 5s));
}

TEST_F(HidOutputTest, FailedSimStatusWriteWarnsAndOtherPanelsAreStillWritten) {
    hid.setTrace(true);
    auto a = add("/dev/a", kBoardA);
    auto b = add("/dev/b", kBoardB);
    startManager();
    a.failWrites(31);
    hid.setSimConnected(true);
    ASSERT_TRUE(waitLog("HID OUT sim_status device=E6614103E7452D2F bytes=0 ", 1));
    EXPECT_EQ(
        log.messages("WARN"),
        std::vector<std::string>{"HID sim_status write failed for E6614103E7452D2F (err=31)"});
    EXPECT_TRUE(b.waitForReceived(1, 5s));
    a.failWrites(0);
    hid.setSimConnected(true);  // unchanged: not retried
    hid.setSimConnected(false);
    ASSERT_TRUE(a.waitForReceived(1, 5s));
    EXPECT_EQ(bytes(a), std::vector<std::vector<std::uint8_t>>{status(false)});
}

TEST_F(HidOutputTest, IdenticalLedCommandsAreWrittenOnceUntilForgotten) {
    hid.setTrace(true);
    auto a = add("/dev/a", kBoardA);
    startManager();
    EXPECT_TRUE(hid.writeLedCommand(kNameA, 0, kFlash));
    ASSERT_TRUE(a.waitForReceived(1, 5s));
    EXPECT_TRUE(hid.writeLedCommand(kNameA, 0, kFlash));
    hid.setSimConnected(true);
    ASSERT_TRUE(a.waitForReceived(2, 5s));
    hid.forgetLedCommand(kNameA, -1);
    EXPECT_TRUE(hid.writeLedCommand(kNameA, 0, kFlash));
    ASSERT_TRUE(a.waitForReceived(3, 5s));
    EXPECT_TRUE(hid.writeLedCommand(kNameA, 0, kSteady));
    ASSERT_TRUE(a.waitForReceived(4, 5s));
    const std::vector<std::vector<std::uint8_t>> expected = {led(kFlash), status(true), led(kFlash),
                                                             led(kSteady)};
    EXPECT_EQ(bytes(a), expected);
    ASSERT_TRUE(waitLog("HID OUT led_ctl", 3));
    EXPECT_EQ(log.count("HID OUT led_ctl device=E6614103E7452D2F bytes=32 data=10030004960064"), 2);
}

TEST_F(HidOutputTest, FailedLedWriteWarnsReturnsTrueAndIsNotRetriedForTheSameCommand) {
    hid.setTrace(true);
    auto a = add("/dev/a", kBoardA);
    startManager();
    a.failWrites(5);
    const std::string failed = "HID OUT led_ctl device=E6614103E7452D2F bytes=0 ";
    EXPECT_TRUE(hid.writeLedCommand(kNameA, 0, kSteady));
    ASSERT_TRUE(waitLog(failed, 1));
    // Changes failing the same way are counted, not warned line by line.
    EXPECT_TRUE(hid.writeLedCommand(kNameA, 0, kFlash));
    ASSERT_TRUE(waitLog(failed, 2));
    EXPECT_TRUE(hid.writeLedCommand(kNameA, 0, kSteady));
    ASSERT_TRUE(waitLog(failed, 3));
    EXPECT_EQ(log.messages("WARN"),
              std::vector<std::string>{"HID led_ctl write failed for E6614103E7452D2F (err=5)"});
    a.failWrites(0);
    EXPECT_TRUE(hid.writeLedCommand(kNameA, 0, kSteady));
    hid.setSimConnected(true);
    ASSERT_TRUE(a.waitForReceived(1, 5s));
    EXPECT_TRUE(hid.writeLedCommand(kNameA, 0, kFlash));
    ASSERT_TRUE(a.waitForReceived(2, 5s));
    EXPECT_EQ(bytes(a), (std::vector<std::vector<std::uint8_t>>{status(true), led(kFlash)}));
}

TEST_F(HidOutputTest, PanelIsSelectedByNameThenByIndex) {
    auto a = add("/dev/a", kBoardA);  // index 0
    auto b = add("/dev/b", kBoardB);  // index 1
    startManager();
    EXPECT_TRUE(hid.writeLedCommand("", 1, kSteady));
    ASSERT_TRUE(b.waitForReceived(1, 5s));
    EXPECT_TRUE(hid.writeLedCommand(kNameB, 0, kFlash));  // the name wins over the index
    ASSERT_TRUE(b.waitForReceived(2, 5s));
    EXPECT_TRUE(hid.writeLedCommand("NO-SUCH-PANEL", 0, kSteady));
    EXPECT_FALSE(hid.writeLedCommand("NO-SUCH-PANEL", -1, kSteady));
    EXPECT_FALSE(hid.writeLedCommand("", 7, kSteady));
    hid.setSimConnected(true);
    ASSERT_TRUE(a.waitForReceived(2, 5s));
    ASSERT_TRUE(b.waitForReceived(3, 5s));
    EXPECT_EQ(bytes(a), (std::vector<std::vector<std::uint8_t>>{led(kSteady), status(true)}));
    EXPECT_EQ(bytes(b),
              (std::vector<std::vector<std::uint8_t>>{led(kSteady), led(kFlash), status(true)}));
    EXPECT_TRUE(log.messages("WARN").empty());
}

TEST_F(HidOutputTest, ReconnectedPanelStartsWithoutRememberedLed) {
    auto a = add("/dev/a", kBoardA);
    startManager();
    EXPECT_TRUE(hid.writeLedCommand(kNameA, -1, kSteady));
    ASSERT_TRUE(a.waitForReceived(1, 5s));
    a.unplug();
    hid.scan();
    a.plug();
    hid.scan();
    a.clearReceived();
    EXPECT_TRUE(hid.writeLedCommand(kNameA, -1, kSteady));
    EXPECT_TRUE(a.waitForReceived(1, 5s));
}

// A panel whose writes hang holds up neither the callers nor the other
// panels; what piles up for it meanwhile collapses to the latest reports.
TEST_F(HidOutputTest, StalledPanelHoldsUpNeitherCallersNorOtherPanels) {
    auto a = add("/dev/a", kBoardA);
    auto b = add("/dev/b", kBoardB);
    startManager();
    a.stallWrites(true);
    EXPECT_TRUE(hid.writeLedCommand(kNameA, -1, kSteady));
    ASSERT_TRUE(a.waitForStalledWrites(1, 5s));
    EXPECT_TRUE(hid.writeLedCommand(kNameA, -1, kFlash));
    EXPECT_TRUE(hid.writeLedCommand(kNameA, -1, kDim));
    hid.forgetLedCommand(kNameA, -1);
    EXPECT_EQ(hid.listDevices().size(), 2u);
    EXPECT_TRUE(hid.writeLedCommand(kNameB, -1, kSteady));
    ASSERT_TRUE(b.waitForReceived(1, 5s));
    hid.setSimConnected(true);
    ASSERT_TRUE(b.waitForReceived(2, 5s));
    b.pushButton(1, 1);
    ASSERT_TRUE(recorder.waitForCount(1, 5s));
    hid.scan();  // nor do the scans wait

    a.stallWrites(false);
    ASSERT_TRUE(a.waitForReceived(3, 5s));
    const std::vector<std::vector<std::uint8_t>> expected = {led(kSteady), led(kDim), status(true)};
    EXPECT_EQ(bytes(a), expected);
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

}  // namespace
