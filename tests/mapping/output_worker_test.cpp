// The engine's LED side on manual time, driven synchronously: the first
// pass, the 1 s refresh, the debounce of changes, the hold-off after a
// panel's own feedback, and what the panels receive for each simulator
// state.
#include "fakes/led_commands.h"
#include "fakes/recording_panel_output.h"
#include "fakes/recording_sim_link.h"
#include "mapping/engine.h"
#include "mapping_fixture.h"

namespace {

using std::chrono::milliseconds;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

const LedCommand kDisconnected = animated(HidProtocol::kLedFlash, 4, 150, 100);
const LedCommand kBatteryOff = animated(HidProtocol::kLedBreathe, 5, 1000, 50);
constexpr std::uint16_t kNavSwap = 18;
const char kPfd[] = "E6614103E7452D2F";
const char kAux[] = "C04A4E0000000009";

class EngineOutputTest : public ::testing::Test {
protected:
    EngineOutputTest() {
        config.mobiflight.mapHoldRepeatMs = 100;
        config.outputs.debounceMs = 50;
        config.outputs.profiles["DEFAULT"] = OutputProfile{};
        config.devices.push_back(DeviceConfig{kPfd, -1, "PFD", ""});
        std::string error;
        EXPECT_TRUE(buttons.loadFromText(kMappingButtons, error)) << error;
        EXPECT_TRUE(eventMap.loadFromText(kMappingEvents, error)) << error;
    }

    // The engine with both panels open, then the first pass (one second
    // after start).
    void startWithFirstPass() {
        compiled = std::make_unique<CompiledConfig>(config, buttons, eventMap);
        engine = std::make_unique<Engine>(*compiled, link, output, clock);
        engine->start(clock.now());
        post(engine_event::PanelAdded{kPfd, 0, 1});
        post(engine_event::PanelAdded{kAux, 1, 2});
        advance(1000);
        ASSERT_EQ(pfd().size(), 1u);
        ASSERT_EQ(aux().size(), 1u);
    }
    // Moves time on, running the engine at every deadline on the way.
    void advance(int ms) {
        const Clock::TimePoint end = clock.now() + milliseconds(ms);
        while (deadline <= end) {
            clock.advance(deadline - clock.now());
            deadline = engine->tick(clock.now());
        }
        clock.advance(end - clock.now());
    }
    // One event, then the tick the engine thread runs when no other waits.
    void post(const EngineEvent& event) {
        engine->handle(event, clock.now());
        deadline = engine->tick(clock.now());
    }
    void connect(bool on = true) { post(engine_event::LinkChanged{on}); }
    void setBattery(bool on) { post(engine_event::BatteryChanged{on}); }
    void lvar(const std::string& text) {
        post(engine_event::LVarValue{LVarPayload{false, 0.0, text}});
    }
    void panelEvent(std::uint8_t type, std::uint16_t id, std::int8_t value) {
        HidProtocol::HidEvent e;
        e.type = type;
        e.controlId = id;
        e.value = value;
        post(PanelEvent{e, kPfd, 0, {}, 0});
    }
    std::vector<LedCommand> pfd() const { return output.received(kPfd, 0); }
    std::vector<LedCommand> aux() const { return output.received(kAux, 1); }

    LogCapture log;
    ManualClock clock;
    AppConfig config;
    ButtonConfig buttons;
    EventMap eventMap;
    RecordingSimLink link;
    RecordingPanelOutput output;
    std::unique_ptr<CompiledConfig> compiled;
    std::unique_ptr<Engine> engine;
    Clock::TimePoint deadline = Clock::TimePoint::max();
};

TEST_F(EngineOutputTest, FirstPassShowsDisconnectedAndEverySecondRefreshes) {
    startWithFirstPass();
    EXPECT_EQ(pfd()[0], kDisconnected);
    output.forgetLed(kPfd, 0);  // lets the next equal report through
    advance(999);
    EXPECT_EQ(pfd().size(), 1u);
    advance(1);
    EXPECT_THAT(pfd(), ElementsAre(kDisconnected, kDisconnected));
    EXPECT_EQ(aux().size(), 1u);  // unchanged: not sent again
}

TEST_F(EngineOutputTest, ChangesAreDebouncedToOnePassAfterTheLast) {
    startWithFirstPass();
    connect();
    advance(10);
    setBattery(true);
    advance(10);
    lvar("0.8");
    advance(49);
    EXPECT_EQ(pfd().size(), 1u);
    advance(1);
    EXPECT_THAT(pfd(), ElementsAre(kDisconnected, steady(80)));
    EXPECT_THAT(aux(), ElementsAre(kDisconnected, steady(80)));
}

TEST_F(EngineOutputTest, WithoutDebounceThePassFollowsTheChange) {
    config.outputs.debounceMs = 0;
    startWithFirstPass();
    connect();
    ASSERT_EQ(pfd().size(), 2u);  // the clock did not move
    EXPECT_EQ(pfd()[1], steady(80));
}

TEST_F(EngineOutputTest, BatteryAndConnectionSelectTheEffect) {
    startWithFirstPass();
    connect();
    advance(50);
    setBattery(false);
    advance(50);
    lvar("0.3");
    advance(50);  // the level waits for the battery
    setBattery(true);
    advance(50);
    connect(false);
    advance(50);
    EXPECT_THAT(pfd(), ElementsAre(kDisconnected, steady(80), kBatteryOff, steady(30), kDisconnected));
}

TEST_F(EngineOutputTest, BacklightPayloadThatDoesNotParseKeepsTheLastLevel) {
    startWithFirstPass();
    connect();
    lvar("L:LIGHTING_POTENTIOMETER_5 = 0.4");
    advance(50);
    EXPECT_EQ(pfd().back(), steady(40));
    EXPECT_EQ(log.count("State update: backlight LIGHTING_POTENTIOMETER_5=0.400000"), 1);

    lvar("L:LIGHTING_POTENTIOMETER_5 = dim");
    lvar("L:OTHER_KNOB = 1");  // not ours: no message
    output.forgetLed(kPfd, 0);
    setBattery(true);
    advance(50);
    EXPECT_THAT(pfd(), ElementsAre(kDisconnected, steady(40), steady(40)));
    EXPECT_THAT(log.messages("WARN"),
                ElementsAre("Backlight LVar payload received but could not be parsed: "
                            "L:LIGHTING_POTENTIOMETER_5 = dim"));
}

// While a panel shows its own feedback (NAV_SWAP hold, type 4 event) its
// LED writes pause for 1.5 s; the first pass after that resends the state.
TEST_F(EngineOutputTest, HoldOffPausesThePanelThenResendsItsState) {
    startWithFirstPass();
    panelEvent(HidProtocol::kEventButton, kNavSwap, 2);
    connect();
    advance(50);
    EXPECT_EQ(pfd().size(), 1u);  // held off
    EXPECT_EQ(aux().back(), steady(80));

    advance(1399);  // 1449 ms after the hold; the refresh at 1000 ms skipped the panel
    setBattery(true);
    advance(50);  // a pass at 1499 ms: still held off
    EXPECT_EQ(pfd().size(), 1u);
    setBattery(true);
    advance(50);
    EXPECT_THAT(pfd(), ElementsAre(kDisconnected, steady(80)));

    // Unchanged state: only the hold-off makes it go out again.
    panelEvent(HidProtocol::kEventLedHoldOff, 0, 0);
    advance(1500);
    setBattery(true);
    advance(50);
    EXPECT_THAT(pfd(), ElementsAre(kDisconnected, steady(80), steady(80)));
    EXPECT_EQ(aux().size(), 2u);
    EXPECT_THAT(log.messages("WARN"), IsEmpty());
}

// A closed panel gets no more writes; one that opens is written at the
// next pass.
TEST_F(EngineOutputTest, OnlyOpenPanelsAreWritten) {
    startWithFirstPass();
    post(engine_event::PanelRemoved{kAux, 1, 2});
    connect();
    advance(50);
    EXPECT_EQ(aux().size(), 1u);
    post(engine_event::PanelAdded{kAux, 1, 3});
    advance(1000);
    EXPECT_THAT(aux(), ElementsAre(kDisconnected, steady(80)));
}

}  // namespace
