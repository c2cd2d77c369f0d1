#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "fakes/log_capture.h"
#include "fakes/test_clocks.h"
#include "hid/hid_manager.h"
#include "hid_test_support.h"

using namespace hidtest;
using namespace std::chrono_literals;

namespace {

class HidManagerTest : public ::testing::Test {
protected:
    bool start(const HidSettings& s = settings()) {
        std::string error;
        const bool ok = hid.start(s, recorder.sink(), error);
        EXPECT_TRUE(ok) << error;
        return ok;
    }
    std::vector<std::string> infos() const { return log.messages("INFO"); }

    LogCapture log;
    emulation::VirtualHidBus bus;
    EventRecorder recorder;
    HidManager hid{bus};
};

TEST(HidIdentifierTest, ReadsLikeScanfHex) {
    std::uint16_t value = 0;
    EXPECT_TRUE(HidManager::parseIdentifier("1A2B", value));
    EXPECT_EQ(value, 0x1A2B);
    EXPECT_TRUE(HidManager::parseIdentifier("0x1a2b", value));
    EXPECT_EQ(value, 0x1A2B);
    EXPECT_TRUE(HidManager::parseIdentifier(" \t0X3C4D", value));
    EXPECT_EQ(value, 0x3C4D);
    EXPECT_TRUE(HidManager::parseIdentifier("2e8aZZ", value));  // stops at the first non-hex
    EXPECT_EQ(value, 0x2E8A);
    EXPECT_TRUE(HidManager::parseIdentifier("FFFF", value));
    EXPECT_EQ(value, 0xFFFF);
    EXPECT_TRUE(HidManager::parseIdentifier("0", value));
    EXPECT_EQ(value, 0);
    for (const char* bad : {"", "   ", "10000", "12345", "FFFFFFFFFFFF", "xyz", "0x", "-1", "G1"}) {
        EXPECT_FALSE(HidManager::parseIdentifier(bad, value)) << bad;
    }
}

TEST_F(HidManagerTest, InvalidIdentifiersFailStartAndChangeNothing) {
    bus.addPanel(panelSpec("/dev/a", kBoardA));
    for (const auto& [vid, pid] :
         {std::pair<std::string, std::string>{"", "3C4D"}, {"1A2B", "12345"}, {"nothex", "3C4D"}}) {
        HidSettings s = settings();
        s.vid = vid;
        s.pid = pid;
        std::string error;
        EXPECT_FALSE(hid.start(s, recorder.sink(), error));
        EXPECT_EQ(error, "Invalid VID/PID");
    }
    hid.scan();
    EXPECT_EQ(hid.deviceCount(), 0u);
    ASSERT_TRUE(start());
    EXPECT_EQ(hid.deviceCount(), 1u);
}

TEST_F(HidManagerTest, HotPlugAndReplugKeepTheIndex) {
    ASSERT_TRUE(start());
    EXPECT_EQ(hid.deviceCount(), 0u);
    auto panel = bus.addPanel(panelSpec("/dev/a", kBoardA));
    hid.scan();
    ASSERT_EQ(hid.listDevices().size(), 1u);
    EXPECT_EQ(hid.listDevices()[0].name, kNameA);
    EXPECT_EQ(hid.listDevices()[0].index, 0);
    const std::uint64_t firstConnection = hid.listDevices()[0].connection;

    panel.unplug();
    hid.scan();
    EXPECT_EQ(hid.deviceCount(), 0u);
    EXPECT_EQ(panel.openReadHandles(), 0);
    EXPECT_EQ(panel.openWriteHandles(), 0);
    panel.plug();
    hid.scan();
    ASSERT_EQ(hid.listDevices().size(), 1u);
    EXPECT_EQ(hid.listDevices()[0].index, 0);
    EXPECT_NE(hid.listDevices()[0].connection, firstConnection);
    const std::vector<std::string> expected = {
        std::string("HID device connected: ") + kNameA + " index=0",
        std::string("HID device disconnected: ") + kNameA,
        std::string("HID device connected: ") + kNameA + " index=0"};
    EXPECT_EQ(infos(), expected);
}

// A board id follows its panel to another port; a panel without one is
// known by its path. New panels skip every index a remembered panel holds.
TEST_F(HidManagerTest, ReturningPanelsGetTheirIndexNewOnesTheLowestNeverHeld) {
    auto a = bus.addPanel(panelSpec("/dev/a", kBoardA));
    auto noId = panelSpec("/dev/b", kBoardB, "");
    noId.boardId.reset();
    auto b = bus.addPanel(noId);
    ASSERT_TRUE(start());
    a.unplug();
    b.unplug();
    hid.scan();
    auto c = bus.addPanel(panelSpec("/dev/c", {9, 9, 9, 9, 9, 9, 9, 9}));
    bus.addPanel(panelSpec("/dev/moved-a", kBoardA));  // A, on another port
    b.plug();
    hid.scan();
    const auto list = hid.listDevices();
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].name, "/dev/b");
    EXPECT_EQ(list[0].index, 1);
    EXPECT_EQ(list[1].index, 2);  // C: 0 and 1 belong to A and the path /dev/b
    EXPECT_EQ(list[2].name, kNameA);
    EXPECT_EQ(list[2].index, 0);
}

// A panel whose reads fail while it stays plugged in is reopened after 1,
// 2, 4 ... 60 s; a report it delivers starts the pauses over.
TEST(HidManagerRetryTest, FailingReadsBackOffUpToAMinuteAndResetOnAReport) {
    LogCapture log;
    ManualClock clock;
    emulation::VirtualHidBus bus(clock);
    EventRecorder recorder;
    HidManager hid(bus, clock);
    auto panel = bus.addPanel(panelSpec("/dev/a", kBoardA));
    panel.failReads(true);
    std::string error;
    ASSERT_TRUE(hid.start(settings(3600000), recorder.sink(), error));
    const auto connects = [&] { return log.count("HID device connected: "); };
    // Scans until the reader's failure has closed the panel.
    const auto scanUntilClosed = [&] {
        const int before = log.count("HID device disconnected: ");
        for (int i = 0; i < 2000 && log.count("HID device disconnected: ") == before; ++i) {
            hid.scan();
            std::this_thread::sleep_for(1ms);
        }
        return log.count("HID device disconnected: ") > before;
    };
    for (int seconds : {1, 2, 4, 8, 16, 32, 60, 60}) {
        ASSERT_TRUE(scanUntilClosed());
        EXPECT_TRUE(log.contains(std::string("HID reads failed for ") + kNameA + "; reopening in " +
                                 std::to_string(seconds) + " s"));
        const int before = connects();
        clock.advance(std::chrono::seconds(seconds) - 1ms);
        hid.scan();
        EXPECT_EQ(connects(), before) << seconds;
        clock.advance(1ms);
        hid.scan();
        ASSERT_EQ(connects(), before + 1) << seconds;
    }
    EXPECT_EQ(log.count("HID device connected: E6614103E7452D2F index=0"), connects());

    ASSERT_TRUE(scanUntilClosed());
    panel.failReads(false);
    clock.advance(60s);
    hid.scan();
    panel.pushButton(1, 1);
    ASSERT_TRUE(recorder.waitForCount(1));
    panel.failReads(true);
    ASSERT_TRUE(scanUntilClosed());  // it delivered: reopened at once
    EXPECT_EQ(hid.deviceCount(), 1u);
    ASSERT_TRUE(scanUntilClosed());
    EXPECT_EQ(log.count("; reopening in 1 s"), 2);
    hid.stop();
}

TEST_F(HidManagerTest, PanelsAreWalkedInPathOrderAndNumberedInProbeOrder) {
    bus.addPanel(panelSpec("/dev/b", kBoardB));
    bus.addPanel(panelSpec("/dev/a", kBoardA));
    bus.addPanel(panelSpec("/dev/other", kBoardA)).failProbe(true);
    auto foreign = panelSpec("/dev/0-foreign", kBoardA);
    foreign.productId = 0x9999;
    bus.addPanel(foreign);
    ASSERT_TRUE(start());
    const auto list = hid.listDevices();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].name, kNameA);
    EXPECT_EQ(list[0].index, 1);
    EXPECT_EQ(list[1].name, kNameB);
    EXPECT_EQ(list[1].index, 0);
}

TEST_F(HidManagerTest, TwoInterfacesOfOneDeviceAreTwoPanels) {
    bus.addPanel(panelSpec("/dev/usb1&mi_00", kBoardA));
    bus.addPanel(panelSpec("/dev/usb1&mi_01", kBoardA));
    ASSERT_TRUE(start());
    const auto list = hid.listDevices();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].index, 0);
    EXPECT_EQ(list[1].index, 1);
    EXPECT_EQ(list[0].name, list[1].name);
}

TEST_F(HidManagerTest, NameFallsBackToSerialThenPath) {
    auto noIdentity = panelSpec("/dev/serial-only", kBoardA, "SER-42");
    noIdentity.boardId.reset();
    bus.addPanel(noIdentity);
    auto wrongId = bus.addPanel(panelSpec("/dev/wrong-id", kBoardA, ""));
    HidProtocol::Report garbled{};
    garbled[0] = 0x22;  // answers with another report: counts as absent
    wrongId.setFeatureReport(HidProtocol::kIdentityReportId, garbled);
    bus.addPanel(panelSpec("/dev/features-fail", kBoardB, "SER-7")).failFeatureReports(true);
    ASSERT_TRUE(start());
    const auto list = hid.listDevices();
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].name, "SER-7");
    EXPECT_EQ(list[1].name, "SER-42");
    EXPECT_EQ(list[2].name, "/dev/wrong-id");
}

TEST_F(HidManagerTest, ProtocolInfoIsLoggedAfterTheConnectLine) {
    auto description = panelSpec("/dev/a", kBoardA);
    description.protocol = HidProtocol::ProtocolInfo{1, 2, 0x0A};
    bus.addPanel(description);
    bus.addPanel(panelSpec("/dev/b", kBoardB));  // no protocol report: no line
    ASSERT_TRUE(start());
    const auto all = log.messages();
    const auto connected = std::find(all.begin(), all.end(),
                                     std::string("HID device connected: ") + kNameA + " index=0");
    ASSERT_NE(connected, all.end());
    ASSERT_NE(connected + 1, all.end());
    EXPECT_EQ(*(connected + 1),
              std::string("HID protocol info: device=") + kNameA + " proto=1.2 flags=0x0A");
    EXPECT_EQ(log.count("HID protocol info"), 1);
}

TEST_F(HidManagerTest, ReadOpenFailureWarnsUsesNoIndexAndIsRetried) {
    auto panel = bus.addPanel(panelSpec("/dev/a", kBoardA));
    panel.failReadOpen(true);
    ASSERT_TRUE(start());
    hid.scan();
    hid.scan();
    EXPECT_EQ(hid.deviceCount(), 0u);
    // Once, not at every scan.
    EXPECT_EQ(log.messages("WARN"), std::vector<std::string>{"Failed to open HID device: /dev/a"});
    panel.failReadOpen(false);
    hid.scan();
    ASSERT_EQ(hid.deviceCount(), 1u);
    EXPECT_EQ(hid.listDevices()[0].index, 0);
}

TEST_F(HidManagerTest, EventsReachTheSinkInOrderAndBadReportsAreDropped) {
    hid.setTrace(true);
    auto panel = bus.addPanel(panelSpec("/dev/a", kBoardA));
    ASSERT_TRUE(start());
    panel.pushButton(0x0101, 1, 1);
    panel.pushRaw(std::vector<std::uint8_t>(20, 0x01));  // too short
    HidProtocol::Report wrongId{};
    wrongId[0] = 0x02;
    panel.pushReport(wrongId);
    panel.pushRaw({});  // an empty read
    const HidProtocol::Report encoder = HidProtocol::buildInputReport({0, 2, 0x0202, -2, 5, 0, 0});
    panel.pushRaw(std::vector<std::uint8_t>(encoder.begin() + 1, encoder.end()));  // 31 bytes
    panel.pushButton(0x0101, 0);
    ASSERT_TRUE(recorder.waitForCount(3));
    ASSERT_TRUE(panel.waitForInputDrained(2s));
    const auto events = recorder.events();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].event.controlId, 0x0101);
    EXPECT_EQ(events[0].event.value, 1);
    EXPECT_EQ(events[0].event.mode, 1);
    EXPECT_EQ(events[1].event.type, 2);
    EXPECT_EQ(events[1].event.value, -2);
    EXPECT_EQ(events[1].event.speed, 5);
    EXPECT_EQ(events[2].event.value, 0);
    for (const auto& e : events) {
        EXPECT_EQ(e.name, kNameA);
        EXPECT_EQ(e.index, 0);
    }
    // Every non-empty read is traced before decoding; the empty one is not.
    EXPECT_EQ(log.count("HID IN device=E6614103E7452D2F bytes="), 5);
    EXPECT_EQ(log.count("bytes=20 data=0101010101"), 1);
    EXPECT_EQ(log.count("bytes=31 data=0002"), 1);
    EXPECT_TRUE(log.messages("WARN").empty());
}

TEST_F(HidManagerTest, NoInputTraceWithoutTraceSwitch) {
    auto panel = bus.addPanel(panelSpec("/dev/a", kBoardA));
    ASSERT_TRUE(start());
    panel.pushButton(1, 1);
    ASSERT_TRUE(recorder.waitForCount(1));
    EXPECT_EQ(log.count("HID IN"), 0);
}

TEST_F(HidManagerTest, PanelWithoutWriteHandleStillDeliversEvents) {
    auto panel = bus.addPanel(panelSpec("/dev/a", kBoardA));
    panel.failWriteOpen(true);
    ASSERT_TRUE(start());
    EXPECT_EQ(
        log.messages("WARN"),
        std::vector<std::string>{"Failed to open HID write handle; output disabled for: /dev/a"});
    panel.pushButton(7, 1);
    ASSERT_TRUE(recorder.waitForCount(1));
    EXPECT_EQ(recorder.events()[0].index, 0);
    hid.setSimConnected(true);
    EXPECT_FALSE(hid.writeLedCommand(kNameA, 0, LedCommand{1, 255, 0, 0, 0, 0}));
    EXPECT_EQ(panel.receivedCount(), 0u);
}

TEST_F(HidManagerTest, QuickReplugBetweenScansReopensThePanel) {
    auto panel = bus.addPanel(panelSpec("/dev/a", kBoardA));
    ASSERT_TRUE(start());
    panel.pushButton(2, 1);  // a panel in use: its failed read is no reason to wait
    ASSERT_TRUE(recorder.waitForCount(1));
    // Gone and back before any scan saw it: the open handle is dead.
    panel.unplug();
    panel.plug();
    for (int i = 0; i < 500 && log.count("HID device connected: ") < 2; ++i) {
        hid.scan();
        std::this_thread::sleep_for(2ms);
    }
    ASSERT_EQ(hid.listDevices().size(), 1u);
    EXPECT_EQ(hid.listDevices()[0].index, 0);
    EXPECT_EQ(log.count("HID device disconnected: "), 1);
    panel.pushButton(3, 1);
    ASSERT_TRUE(recorder.waitForCount(2));
    EXPECT_EQ(recorder.events()[1].index, 0);
    EXPECT_EQ(panel.openReadHandles(), 1);
}

TEST_F(HidManagerTest, StopDisconnectsEveryPanelPromptlyAndOnlyOnce) {
    auto a = bus.addPanel(panelSpec("/dev/a", kBoardA));
    auto b = bus.addPanel(panelSpec("/dev/b", kBoardB));
    ASSERT_TRUE(start());  // 60 s scan interval, 1 s read wait
    const auto before = std::chrono::steady_clock::now();
    hid.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 500ms);
    EXPECT_EQ(hid.deviceCount(), 0u);
    EXPECT_EQ(a.openReadHandles() + a.openWriteHandles() + b.openReadHandles(), 0);
    const std::vector<std::string> tail = {std::string("HID device disconnected: ") + kNameA,
                                           std::string("HID device disconnected: ") + kNameB};
    auto all = infos();
    ASSERT_GE(all.size(), 2u);
    EXPECT_EQ(std::vector<std::string>(all.end() - 2, all.end()), tail);
    hid.stop();
    EXPECT_EQ(infos().size(), all.size());
    // A scan from the watcher after stop must not open anything.
    hid.scan();
    EXPECT_EQ(hid.deviceCount(), 0u);
    EXPECT_EQ(a.openReadHandles(), 0);
}

TEST_F(HidManagerTest, StartWhileRunningKeepsTheFirstSinkAndRestartTakesNewOnes) {
    auto panel = bus.addPanel(panelSpec("/dev/a", kBoardA));
    ASSERT_TRUE(start());
    EventRecorder other;
    std::string error;
    EXPECT_TRUE(hid.start(settings(), other.sink(), error));
    panel.pushButton(1, 1);
    ASSERT_TRUE(recorder.waitForCount(1));

    hid.stop();
    ASSERT_TRUE(hid.start(settings(), other.sink(), error));
    panel.pushButton(2, 1);
    ASSERT_TRUE(other.waitForCount(1));
    EXPECT_EQ(other.events()[0].index, 0);  // remembered across the restart
    EXPECT_EQ(other.events()[0].event.controlId, 2);
    EXPECT_EQ(recorder.events().size(), 1u);
}

// What the panel listener and the sink heard, in one sequence.
class Timeline {
public:
    PanelListener listener() {
        return [this](const PanelChange& change) {
            add((change.kind == PanelChange::Kind::Added ? "added " : "removed ") + change.name +
                " " + std::to_string(change.index) + " #" + std::to_string(change.connection));
        };
    }
    HidManager::EventSink sink() {
        return [this](const HidProtocol::HidEvent&, const std::string& name, std::int32_t index) {
            add("event " + name + " " + std::to_string(index));
        };
    }
    bool waitForCount(std::size_t count) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, 5s, [&] { return entries_.size() >= count; });
    }
    // The entries about one panel.
    std::vector<std::string> of(const std::string& name) {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<std::string> result;
        for (const auto& entry : entries_) {
            if (entry.find(" " + name + " ") != std::string::npos) result.push_back(entry);
        }
        return result;
    }

private:
    void add(const std::string& entry) {
        std::lock_guard<std::mutex> lock(mutex_);
        entries_.push_back(entry);
        changed_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> entries_;
};

// Added precedes the input of its opening (even input that waits when the
// panel is opened), Removed follows it, each once; stop closes every panel
// with its Removed, and the listener stays for the next start.
TEST(HidPanelListenerTest, HearsOfEachOpeningBeforeItsInputAndOfItsEndAfterIt) {
    LogCapture log;
    emulation::VirtualHidBus bus;
    Timeline timeline;
    HidManager hid(bus);
    auto a = bus.addPanel(panelSpec("/dev/a", kBoardA));
    bus.addPanel(panelSpec("/dev/b", kBoardB));
    a.pushButton(1, 1);
    hid.setPanelListener(timeline.listener());
    std::string error;
    ASSERT_TRUE(hid.start(settings(), timeline.sink(), error));
    ASSERT_TRUE(timeline.waitForCount(3));
    a.unplug();
    hid.scan();
    a.pushButton(2, 1);  // dropped while unplugged
    hid.stop();
    ASSERT_TRUE(hid.start(settings(), timeline.sink(), error));
    hid.stop();

    const std::string nameA = kNameA;
    const std::string nameB = kNameB;
    EXPECT_EQ(timeline.of(nameA),
              (std::vector<std::string>{"added " + nameA + " 0 #1", "event " + nameA + " 0",
                                        "removed " + nameA + " 0 #1"}));
    EXPECT_EQ(timeline.of(nameB),
              (std::vector<std::string>{"added " + nameB + " 1 #2", "removed " + nameB + " 1 #2",
                                        "added " + nameB + " 1 #3", "removed " + nameB + " 1 #3"}));
}

// Closing gives a panel's writer kWriterDrain to write what waits (the last
// status, at a shutdown); a write that still hangs then is cancelled, so
// stop() returns with every thread joined and every handle closed.
TEST(HidManagerStopTest, WritersDrainWithinTheirTimeThenAHungWriteIsCancelled) {
    LogCapture log;
    ManualClock clock;
    emulation::VirtualHidBus bus(clock);
    EventRecorder recorder;
    HidManager hid(bus, clock);
    auto a = bus.addPanel(panelSpec("/dev/a", kBoardA));
    auto b = bus.addPanel(panelSpec("/dev/b", kBoardB));
    std::string error;
    ASSERT_TRUE(hid.start(settings(), recorder.sink(), error));
    const LedCommand steady{1, 200, 0, 0, 0, 0};
    for (auto [panel, name] : {std::pair{a, kNameA}, std::pair{b, kNameB}}) {
        panel.stallWrites(true);
        ASSERT_TRUE(hid.writeLedCommand(name, -1, steady));
        ASSERT_TRUE(panel.waitForStalledWrites(1, 5s));
    }
    hid.setSimConnected(false);  // waits behind the hung writes
    std::thread stopper([&] { hid.stop(); });
    const auto drainEnd = clock.now() + HidManager::kWriterDrain;
    ASSERT_TRUE(clock.waitForWaitUntil(drainEnd));
    a.stallWrites(false);  // A recovers within its time
    ASSERT_TRUE(log.waitFor(std::string("HID device disconnected: ") + kNameA));
    ASSERT_TRUE(clock.waitForWaitUntil(drainEnd));  // B's turn; it never recovers
    clock.advance(HidManager::kWriterDrain);
    stopper.join();

    const auto status = HidProtocol::buildSimStatusReport(false);
    ASSERT_EQ(a.receivedCount(), 2u);
    EXPECT_EQ(a.received()[1].bytes, std::vector<std::uint8_t>(status.begin(), status.end()));
    EXPECT_EQ(b.receivedCount(), 0u);
    EXPECT_EQ(b.stalledWrites(), 0);
    EXPECT_EQ(log.messages("WARN"),
              std::vector<std::string>{"HID led_ctl write failed for 0102030405060708 (err=995)"});
    for (const auto& panel : {a, b})
        EXPECT_EQ(panel.openReadHandles() + panel.openWriteHandles(), 0);
}

TEST_F(HidManagerTest, ConcurrentScansOpenAPanelOnce) {
    auto panel = bus.addPanel(panelSpec("/dev/a", kBoardA));
    ASSERT_TRUE(start());
    panel.unplug();
    hid.scan();
    panel.plug();
    std::vector<std::thread> scanners;
    for (int t = 0; t < 3; ++t) {
        scanners.emplace_back([this] {
            for (int i = 0; i < 100; ++i)
                hid.scan();
        });
    }
    for (auto& thread : scanners)
        thread.join();
    EXPECT_EQ(hid.deviceCount(), 1u);
    EXPECT_EQ(panel.openReadHandles(), 1);
    EXPECT_EQ(log.count("HID device connected: "), 2);
}

// Lets one scan enumerate, then holds it until the test releases it.
class PausingBus final : public platform::HidBus {
public:
    explicit PausingBus(platform::HidBus& inner) : inner_(inner) {}
    std::vector<std::string> enumerate() override {
        auto paths = inner_.enumerate();
        std::unique_lock<std::mutex> lock(mutex_);
        if (pauseNext_) {
            pauseNext_ = false;
            paused_ = true;
            changed_.notify_all();
            changed_.wait(lock, [&] { return !paused_; });
        }
        return paths;
    }
    bool probe(const std::string& p, std::uint16_t& v, std::uint16_t& d) override {
        return inner_.probe(p, v, d);
    }
    std::unique_ptr<platform::HidReadHandle> openRead(const std::string& p) override {
        return inner_.openRead(p);
    }
    std::unique_ptr<platform::HidWriteHandle> openWrite(const std::string& p) override {
        return inner_.openWrite(p);
    }
    void pauseNextEnumeration() {
        std::lock_guard<std::mutex> lock(mutex_);
        pauseNext_ = true;
    }
    void waitPaused() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return paused_; });
    }
    void release() {
        std::lock_guard<std::mutex> lock(mutex_);
        paused_ = false;
        changed_.notify_all();
    }

private:
    platform::HidBus& inner_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool pauseNext_ = false;
    bool paused_ = false;
};

TEST(PanelIndicesTest, MemoryIsBoundedByForgettingTheLongestClosed) {
    PanelIndices indices(2);
    EXPECT_EQ(indices.acquire("a"), 0);
    EXPECT_EQ(indices.acquire("b"), 1);
    indices.release(0);
    indices.release(1);
    EXPECT_EQ(indices.acquire("c"), 0);  // "a", closed longest, is forgotten
    EXPECT_EQ(indices.acquire("b"), 1);
    EXPECT_EQ(indices.acquire("a"), 2);  // nothing closed to forget: open panels stay
    EXPECT_EQ(indices.acquire("a"), 3);  // a second interface of the same board
    indices.release(2);
    EXPECT_EQ(indices.acquire("a"), 2);
}

TEST(HidManagerScanOrderTest, AnOlderScanNeverUndoesANewerOne) {
    LogCapture log;
    emulation::VirtualHidBus virtualBus;
    PausingBus bus(virtualBus);
    EventRecorder recorder;
    HidManager hid(bus);
    std::string error;
    ASSERT_TRUE(hid.start(settings(), recorder.sink(), error));
    // The slow scan saw no panel; a newer one, started after the plug, did.
    bus.pauseNextEnumeration();
    std::thread slow([&] { hid.scan(); });
    bus.waitPaused();
    virtualBus.addPanel(panelSpec("/dev/a", kBoardA));
    hid.scan();
    ASSERT_EQ(hid.deviceCount(), 1u);
    bus.release();
    slow.join();
    EXPECT_EQ(hid.deviceCount(), 1u);
    EXPECT_EQ(log.count("HID device disconnected"), 0);
}

TEST(HidManagerClockTest, ScanThreadPacesByTheClockAndStopWakesIt) {
    LogCapture log;
    ManualClock clock;
    emulation::VirtualHidBus bus(clock);
    EventRecorder recorder;
    HidManager hid(bus, clock);
    std::string error;
    ASSERT_TRUE(hid.start(settings(1000), recorder.sink(), error));
    bus.addPanel(panelSpec("/dev/a", kBoardA));
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(hid.deviceCount(), 0u);  // no time has passed on the clock
    clock.advance(1000ms);
    for (int i = 0; i < 2000 && hid.deviceCount() == 0; ++i)
        std::this_thread::sleep_for(1ms);
    EXPECT_EQ(hid.deviceCount(), 1u);
    const auto before = std::chrono::steady_clock::now();
    hid.stop();  // neither the scan pause nor the read wait ever elapses on this clock
    EXPECT_LT(std::chrono::steady_clock::now() - before, 500ms);
}

}  // namespace
