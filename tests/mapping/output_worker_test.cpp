// The output worker on manual time: the first pass, the 1 s refresh, the
// debounce of change notices, the hold-off after a panel's own feedback,
// and what the panels receive for each simulator state.
#include "fakes/led_commands.h"
#include "mapping_fixture.h"

namespace {

using std::chrono::milliseconds;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

const LedCommand kDisconnected = animated(HidProtocol::kLedFlash, 4, 150, 100);
const LedCommand kBatteryOff = animated(HidProtocol::kLedBreathe, 5, 1000, 50);

class OutputWorkerTest : public MappingTest {
protected:
    // Engine on manual time, then the first pass (one second after start).
    void startWithFirstPass() {
        startEngine(clock);
        advance(1000);
        ASSERT_EQ(ledReports(pfd).size(), 1u);
        ASSERT_EQ(ledReports(aux).size(), 1u);
    }
    void advance(int ms) {
        ASSERT_TRUE(clock.waitSettled(2));
        ASSERT_TRUE(hid.waitForOutputIdle(milliseconds(5000)));
        clock.advance(milliseconds(ms));
        ASSERT_TRUE(clock.waitSettled(2));
        ASSERT_TRUE(hid.waitForOutputIdle(milliseconds(5000)));
    }
    // A change notice, once the output worker waits out its debounce.
    void notice() {
        engine->notifyOutputsChanged();
        debounceStarted();
    }
    void debounceStarted() {
        const auto debounce = milliseconds(config.outputs.debounceMs);
        ASSERT_TRUE(clock.waitForWaitUntil(clock.now() + debounce));
    }
    void connect() {
        engine->setSimConnected(true);
        notice();
    }
    void setBattery(bool on) {
        {
            MutexLock guard(simState.lock);
            simState.batteryKnown = true;
            simState.batteryOn = on;
        }
        notice();
    }
    void dispatched(const Panel& panel, const HidProtocol::HidEvent& event) {
        const std::size_t before = traces().size();
        submit(panel, event);
        ASSERT_TRUE(waitTraces(before + 1));
    }
};

TEST_F(OutputWorkerTest, FirstPassShowsDisconnectedAndEverySecondRefreshes) {
    startWithFirstPass();
    EXPECT_EQ(ledReports(pfd)[0], kDisconnected);
    hid.forgetLedCommand(pfd.name, pfd.index);  // lets the next equal report through
    advance(999);
    EXPECT_EQ(ledReports(pfd).size(), 1u);
    advance(1);
    EXPECT_THAT(ledReports(pfd), ElementsAre(kDisconnected, kDisconnected));
    EXPECT_EQ(ledReports(aux).size(), 1u);  // unchanged: filtered by the HID manager
}

TEST_F(OutputWorkerTest, NoticesAreDebouncedToOnePassAfterTheLast) {
    startWithFirstPass();
    connect();
    advance(10);
    notice();
    advance(10);
    notice();
    advance(49);
    EXPECT_EQ(ledReports(pfd).size(), 1u);
    advance(1);
    EXPECT_THAT(ledReports(pfd), ElementsAre(kDisconnected, steady(80)));
    EXPECT_THAT(ledReports(aux), ElementsAre(kDisconnected, steady(80)));
}

TEST_F(OutputWorkerTest, WithoutDebounceThePassFollowsTheNotice) {
    config.outputs.debounceMs = 0;
    startWithFirstPass();
    engine->setSimConnected(true);
    engine->notifyOutputsChanged();
    ASSERT_TRUE(waitLedReports(pfd, 2));  // the clock does not move
    EXPECT_EQ(ledReports(pfd)[1], steady(80));
}

TEST_F(OutputWorkerTest, BatteryAndConnectionSelectTheEffect) {
    startWithFirstPass();
    connect();
    advance(50);
    setBattery(false);
    advance(50);
    engine->onLVarPayload("0.3");
    debounceStarted();
    advance(50);  // the level waits for the battery
    setBattery(true);
    advance(50);
    engine->setSimConnected(false);
    notice();
    advance(50);
    EXPECT_THAT(ledReports(pfd),
                ElementsAre(kDisconnected, steady(80), kBatteryOff, steady(30), kDisconnected));
}

TEST_F(OutputWorkerTest, BacklightPayloadThatDoesNotParseKeepsTheLastLevel) {
    startWithFirstPass();
    connect();
    engine->onLVarPayload("L:LIGHTING_POTENTIOMETER_5 = 0.4");
    debounceStarted();
    advance(50);
    EXPECT_EQ(ledReports(pfd).back(), steady(40));
    EXPECT_EQ(log.count("State update: backlight LIGHTING_POTENTIOMETER_5=0.400000"), 1);

    engine->onLVarPayload("L:LIGHTING_POTENTIOMETER_5 = dim");
    engine->onLVarPayload("L:OTHER_KNOB = 1");  // not ours: no message
    hid.forgetLedCommand(pfd.name, pfd.index);
    notice();
    advance(50);
    EXPECT_THAT(ledReports(pfd), ElementsAre(kDisconnected, steady(40), steady(40)));
    EXPECT_THAT(log.messages("WARN"),
                ElementsAre("Backlight LVar payload received but could not be parsed: "
                            "L:LIGHTING_POTENTIOMETER_5 = dim"));
    MutexLock guard(simState.lock);
    EXPECT_TRUE(simState.backlightKnown);
    EXPECT_DOUBLE_EQ(simState.backlightLevel, 0.4);
}

// While a panel shows its own feedback (NAV_SWAP hold, type 4 event) its
// LED writes pause for 1.5 s; the first pass after that resends the state.
TEST_F(OutputWorkerTest, HoldOffPausesThePanelThenResendsItsState) {
    startWithFirstPass();
    dispatched(pfd, button(kNavSwap, 2));
    connect();
    advance(50);
    EXPECT_EQ(ledReports(pfd).size(), 1u);  // held off
    EXPECT_EQ(ledReports(aux).back(), steady(80));

    advance(1399);  // 1449 ms after the hold; the refresh at 1000 ms skipped the panel
    notice();
    advance(50);  // a pass at 1499 ms: still held off
    EXPECT_EQ(ledReports(pfd).size(), 1u);
    notice();
    advance(50);
    EXPECT_THAT(ledReports(pfd), ElementsAre(kDisconnected, steady(80)));

    // Unchanged state: only the hold-off makes it go out again.
    HidProtocol::HidEvent modeChange;
    modeChange.type = HidProtocol::kEventLedHoldOff;
    dispatched(pfd, modeChange);
    advance(1500);
    notice();
    advance(50);
    EXPECT_THAT(ledReports(pfd), ElementsAre(kDisconnected, steady(80), steady(80)));
    EXPECT_EQ(ledReports(aux).size(), 2u);
}

// A pass that wrote the panel just as the hold-off began (it had checked
// before the entry existed) must not make the pass after it skip the resend.
TEST_F(OutputWorkerTest, WriteRacingTheHoldOffStartDoesNotSuppressTheResend) {
    startWithFirstPass();
    connect();
    advance(50);
    ASSERT_EQ(ledReports(pfd).size(), 2u);
    HidProtocol::HidEvent modeChange;
    modeChange.type = HidProtocol::kEventLedHoldOff;
    dispatched(pfd, modeChange);
    hid.writeLedCommand(pfd.name, pfd.index, steady(80));  // the racing write
    ASSERT_TRUE(hid.waitForOutputIdle(milliseconds(5000)));
    ASSERT_EQ(ledReports(pfd).size(), 3u);
    advance(1500);
    notice();
    advance(50);
    EXPECT_EQ(ledReports(pfd).size(), 4u);
    EXPECT_THAT(log.messages("WARN"), IsEmpty());
}

}  // namespace
