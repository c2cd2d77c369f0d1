// Held map controls: the press goes out at once, the hold text repeats at
// the configured period on the engine's clock until the release.
#include <thread>

#include "mapping_fixture.h"

namespace {

using std::chrono::milliseconds;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

// The engine runs on manual time; its thread is the one that waits on it.
class HoldRepeatTest : public MappingTest {
protected:
    void SetUp() override {
        startEngine(clock);
        startLink();
    }
    // Moves the engine's time once its thread waits for a later deadline,
    // and returns when it waits again (so every send due by then is written).
    void advance(int ms) {
        ASSERT_TRUE(clock.waitSettled(1));
        clock.advance(milliseconds(ms));
        ASSERT_TRUE(clock.waitSettled(1));
    }
    std::vector<std::string> holdWarnings() const {
        std::vector<std::string> result;
        for (const std::string& message : log.messages("WARN")) {
            if (message.rfind("Managed map hold", 0) == 0) result.push_back(message);
        }
        return result;
    }
    void dispatched(const Panel& panel, const HidProtocol::HidEvent& event) {
        const std::size_t before = traces().size();
        submit(panel, event);
        ASSERT_TRUE(waitTraces(before + 1));
    }
    // The first hold of a control: dispatched (the hold is kept before the
    // trace line is written).
    void held(const Panel& panel, std::uint16_t control) {
        dispatched(panel, button(control, 2));
    }
};

TEST_F(HoldRepeatTest, HoldTextRepeatsEveryPeriodUntilTheRelease) {
    dispatched(pfd, button(kMapLeft, 1));
    EXPECT_EQ(countRpn("ML_PRESS"), 1);  // the press went out directly
    held(pfd, kMapLeft);
    advance(99);
    EXPECT_EQ(countRpn("ML_HOLD"), 0);
    advance(1);
    EXPECT_EQ(countRpn("ML_HOLD"), 1);

    advance(50);
    dispatched(pfd, button(kMapLeft, 3));  // a repeated hold keeps the pace
    advance(49);
    EXPECT_EQ(countRpn("ML_HOLD"), 1);
    advance(1);
    EXPECT_EQ(countRpn("ML_HOLD"), 2);
    advance(100);
    EXPECT_EQ(countRpn("ML_HOLD"), 3);

    dispatched(pfd, button(kMapLeft, 0));
    advance(100);
    advance(300);
    EXPECT_EQ(countRpn("ML_HOLD"), 3);
    EXPECT_EQ(countRpn("ML_PRESS"), 1);
    EXPECT_THAT(traces()[1], HasSubstr(" action=HOLD role=PFD(BUTTON) controlId=1(MAP_LEFT)"
                                       " value=2 speed=0 mode=0"));
}

TEST_F(HoldRepeatTest, WithoutHoldTextThePressTextRepeatsAndAPressStopsIt) {
    dispatched(pfd, button(kMapRight, 1));
    held(pfd, kMapRight);
    advance(100);
    advance(100);
    EXPECT_EQ(countRpn("MR_PRESS"), 3);
    dispatched(pfd, button(kMapRight, 1));  // a new press ends the hold
    EXPECT_EQ(countRpn("MR_PRESS"), 4);
    advance(100);
    advance(100);
    EXPECT_EQ(countRpn("MR_PRESS"), 4);
}

TEST_F(HoldRepeatTest, EachPanelHoldsOnItsOwn) {
    held(pfd, kMapLeft);
    held(aux, kMapLeft);  // mode 0: the same PFD text, another panel
    advance(100);
    EXPECT_EQ(countRpn("ML_HOLD"), 2);
    dispatched(aux, button(kMapLeft, 0));
    advance(100);
    EXPECT_EQ(countRpn("ML_HOLD"), 3);
}

// Failing repeats are tried again at their pace but warned once, then
// summed up once a minute.
TEST_F(HoldRepeatTest, FailedRepeatIsWarnedOnceAndTriedAgain) {
    const std::string warning =
        "Managed map hold send failed: SimConnect_SetClientData failed (0x80004005)";
    held(pfd, kMapLeft);
    sim.failCalls("SimConnect_SetClientData", simconnect::E_FAIL_RESULT, 3);
    advance(100);
    advance(100);
    advance(100);
    EXPECT_EQ(countRpn("ML_HOLD"), 0);
    EXPECT_EQ(holdWarnings(), std::vector<std::string>{warning}) << log.dump();
    advance(100);
    EXPECT_EQ(countRpn("ML_HOLD"), 1);
    for (int i = 0; i < 600; ++i)
        advance(100);
    EXPECT_EQ(holdWarnings(), (std::vector<std::string>{warning, warning + " (repeated 2 times)"}));
}

// A panel pulled out while a map control is held never sends the release.
TEST_F(HoldRepeatTest, HoldEndsWhenItsPanelGoesAway) {
    held(pfd, kMapLeft);
    held(aux, kMapLeft);
    advance(100);
    EXPECT_EQ(countRpn("ML_HOLD"), 2);
    pfd.device.unplug();
    hid.scan();
    ASSERT_EQ(hid.deviceCount(), 1u);
    advance(100);
    EXPECT_EQ(countRpn("ML_HOLD"), 3);  // only the other panel's
    pfd.device.plug();
    hid.scan();  // back under its old index, but the hold belonged to the last plug-in
    ASSERT_EQ(hid.deviceCount(), 2u);
    ASSERT_EQ(hid.listDevices()[0].index, pfd.index);
    advance(100);
    EXPECT_EQ(countRpn("ML_HOLD"), 4);
}

// A release that arrives while holds of the same control and panel still
// wait in the engine's queue removes them; others stay. The engine thread is
// kept busy in a direct send meanwhile.
TEST_F(HoldRepeatTest, ReleaseRemovesQueuedHoldsOfItsControlAndPanelOnly) {
    gate.close("MF.SimVars.Set.1 MR_PRESS");
    submit(pfd, button(kMapRight, 1));
    ASSERT_TRUE(gate.waitBlocked());
    submit(pfd, button(kMapLeft, 2));
    submit(pfd, button(kMapLeft, 4));
    submit(aux, button(kMapLeft, 2));                              // another panel
    engine->submit(button(kMapLeft, 3), pfd.name, pfd.index + 7);  // another index
    submit(pfd, button(kMapUp, 2));                                // another control
    submit(pfd, button(kMapLeft, 0));
    gate.open();
    ASSERT_TRUE(waitTraces(5));

    std::vector<std::string> holds;
    for (const std::string& line : traces()) {
        if (line.find(" action=HOLD ") != std::string::npos) holds.push_back(line);
    }
    ASSERT_EQ(holds.size(), 3u);
    EXPECT_THAT(holds[0], HasSubstr(aux.name + " index=" + std::to_string(aux.index)));
    EXPECT_THAT(holds[1], HasSubstr(" index=" + std::to_string(pfd.index + 7) + " "));
    EXPECT_THAT(holds[2], HasSubstr("(MAP_UP)"));
    EXPECT_EQ(traces().size(), 5u);
    EXPECT_THAT(traces().back(), HasSubstr(" action=BUTTON_RELEASE "));
    advance(100);
    EXPECT_EQ(countRpn("ML_HOLD"), 1);  // aux's; the index without a panel ends
    EXPECT_EQ(countRpn("MU_PRESS"), 1);
}

// An output write to one panel stalls; the holds of other panels must go on.
TEST_F(HoldRepeatTest, HoldRepeatsWhileAnotherPanelsWriteStalls) {
    held(pfd, kMapLeft);
    aux.device.stallWrites(true);
    std::thread writer([this] {
        hid.writeLedCommand(aux.name, aux.index, LedCommand{1, 7, 0, 0, 0, 0});
    });
    ASSERT_TRUE(aux.device.waitForStalledWrites(1, std::chrono::seconds(5)));
    advance(100);
    advance(100);
    EXPECT_EQ(countRpn("ML_HOLD"), 2);
    aux.device.stallWrites(false);
    writer.join();
}

class HoldPeriodTest : public MappingTest {};

TEST_F(HoldPeriodTest, PeriodBelowOneMillisecondIsTenMilliseconds) {
    config.mobiflight.mapHoldRepeatMs = 0;
    startEngine(clock);
    startLink();
    submit(pfd, button(kMapLeft, 2));
    ASSERT_TRUE(waitTraces(1));
    ASSERT_TRUE(clock.waitForWaitUntil(clock.now() + milliseconds(10)));
    ASSERT_TRUE(clock.waitSettled(1));
    clock.advance(milliseconds(9));
    ASSERT_TRUE(clock.waitSettled(1));
    EXPECT_EQ(countRpn("ML_HOLD"), 0);
    clock.advance(milliseconds(1));
    ASSERT_TRUE(clock.waitSettled(1));
    EXPECT_EQ(countRpn("ML_HOLD"), 1);
    EXPECT_THAT(log.messages("WARN"), IsEmpty());
}

}  // namespace
