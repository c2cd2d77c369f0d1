// The dispatch steps on a recording link, synchronously: what each panel
// event asks of the simulator link and the hold repeater, call by call.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

#include "config/app_config.h"
#include "config/button_config.h"
#include "config/compiled_config.h"
#include "config/event_map.h"
#include "fakes/log_capture.h"
#include "fakes/recording_sim_link.h"
#include "fakes/test_clocks.h"
#include "mapping/dispatcher.h"
#include "mapping/engine_inbox.h"
#include "mapping/hold_repeater.h"
#include "mapping/latency_summary.h"
#include "mapping/output_state.h"
#include "mapping_fixture.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Call = RecordingSimLink::Call;

constexpr std::uint16_t kMapLeft = 1, kMapUp = 3, kApMaster = 5, kNoseUp = 15, kSoftkey = 41,
                        kHdg = 20, kUnmapped = 99;
const char kPfd[] = "E6614103E7452D2F";

class DispatchStepsTest : public ::testing::Test {
protected:
    DispatchStepsTest() {
        config.mobiflight.mapHoldRepeatMs = 100;
        config.devices.push_back(DeviceConfig{kPfd, -1, "PFD", ""});
        std::string error;
        EXPECT_TRUE(buttons.loadFromText(kMappingButtons, error)) << error;
        EXPECT_TRUE(eventMap.loadFromText(kMappingEvents, error)) << error;
        holds.configure(link, config.mobiflight.mapHoldRepeatMs);
        compiled = std::make_unique<CompiledConfig>(config, buttons, eventMap);
        dispatcher = std::make_unique<Dispatcher>(*compiled, link, holds, outputs, &latency);
        link.setReady(true);
        link.setConnected(true);
    }

    void event(std::uint8_t type, std::uint16_t id, std::int8_t value, std::uint8_t speed = 0,
               std::uint8_t mode = HidProtocol::kModeConfigured, Clock::TimePoint readAt = {}) {
        HidProtocol::HidEvent e;
        e.type = type;
        e.controlId = id;
        e.value = value;
        e.speed = speed;
        e.mode = mode;
        dispatcher->dispatch(PanelEvent{e, kPfd, 0, readAt, 1}, clock.now());
    }
    void button(std::uint16_t id, std::int8_t value, std::uint8_t mode = HidProtocol::kModePfd,
                Clock::TimePoint readAt = {}) {
        event(HidProtocol::kEventButton, id, value, 0, mode, readAt);
    }
    // The engine's timed step: due holds, then the minute's summary.
    void step() {
        holds.repeatDue(clock.now());
        latency.poll();
    }
    std::vector<std::string> latencyLines() const {
        std::vector<std::string> lines;
        for (const std::string& line : log.messages("DEBUG")) {
            if (line.rfind("Latency over", 0) == 0) lines.push_back(line);
        }
        return lines;
    }

    LogCapture log;
    ManualClock clock;
    AppConfig config;
    ButtonConfig buttons;
    EventMap eventMap;
    RecordingSimLink link;
    LatencySummary latency{clock};
    HoldRepeater holds{clock};
    OutputState outputs{clock};
    std::unique_ptr<CompiledConfig> compiled;
    std::unique_ptr<Dispatcher> dispatcher;
};

TEST_F(DispatchStepsTest, EachActionAsksForItsTextKindAndAmount) {
    button(kSoftkey, HidProtocol::kButtonPressed, HidProtocol::kModeMfd);
    button(kSoftkey, HidProtocol::kButtonPressed, HidProtocol::kModeConfigured);  // entry: PFD
    event(HidProtocol::kEventEncoder, kHdg, -3);
    event(HidProtocol::kEventEncoder, kHdg, 1, HidProtocol::kFastSpeed);
    event(HidProtocol::kEventEncoder, kHdg, 1, HidProtocol::kFastSpeed - 1);
    button(kNoseUp, HidProtocol::kButtonHeldLast);
    button(kNoseUp, HidProtocol::kButtonReleased);
    EXPECT_THAT(link.calls(), ElementsAre(Call{"queue", "SK_MFD", SimLink::kPlain, 1},
                                          Call{"queue", "SK_PFD", SimLink::kPlain, 1},
                                          Call{"queue", "HDG_DEC", SimLink::kEncoder, 3},
                                          Call{"queue", "HDG_INC_FAST", SimLink::kEncoder, 1},
                                          Call{"queue", "HDG_INC", SimLink::kEncoder, 3},
                                          Call{"queue", "NU_HOLD", SimLink::kHold, 1},
                                          Call{"drop", "NU_HOLD", SimLink::kPlain, 0},
                                          Call{"queue", "NU_RELEASE", SimLink::kPlain, 1}));
}

// The speed byte counts as steps only up to a bound: a hostile or broken
// panel cannot ask for hundreds of commands with one report.
TEST_F(DispatchStepsTest, EncoderStepsPerReportAreCappedWithOneWarning) {
    event(HidProtocol::kEventEncoder, kHdg, 1, HidProtocol::kFastSpeed - 1);  // no _FAST: counted
    event(HidProtocol::kEventEncoder, kHdg, -128);
    for (int i = 0; i < 3; ++i)
        event(HidProtocol::kEventEncoder, kHdg, 1, 255);  // HDG_INC has a _FAST text
    event(HidProtocol::kEventEncoder, kHdg, -1, 255);
    const std::int32_t cap = Dispatcher::kMaxEncoderStepsPerReport;
    EXPECT_THAT(link.calls(), ElementsAre(Call{"queue", "HDG_INC", SimLink::kEncoder, 3},
                                          Call{"queue", "HDG_DEC", SimLink::kEncoder, cap},
                                          Call{"queue", "HDG_INC_FAST", SimLink::kEncoder, 1},
                                          Call{"queue", "HDG_INC_FAST", SimLink::kEncoder, 1},
                                          Call{"queue", "HDG_INC_FAST", SimLink::kEncoder, 1},
                                          Call{"queue", "HDG_DEC", SimLink::kEncoder, cap}));
    EXPECT_THAT(log.messages("WARN"), ElementsAre("Panel " + std::string(kPfd) +
                                                  " reported more than 32 encoder "
                                                  "steps at once; sending 32"));
}

// A held map control repeats its text directly, once per period, from the
// first period after the hold until the release; the release also drops
// queued copies.
TEST_F(DispatchStepsTest, MapHoldRepeatsEachPeriodUntilTheRelease) {
    button(kMapLeft, HidProtocol::kButtonPressed);
    button(kMapLeft, HidProtocol::kButtonHeldFirst);
    step();  // not due yet
    clock.advance(std::chrono::milliseconds(100));
    step();
    button(kMapLeft, HidProtocol::kButtonHeldFirst);  // keeps the pace
    clock.advance(std::chrono::milliseconds(100));
    step();
    button(kMapLeft, HidProtocol::kButtonReleased);
    clock.advance(std::chrono::milliseconds(100));
    step();
    EXPECT_THAT(link.texts("now"), ElementsAre("ML_PRESS", "ML_HOLD", "ML_HOLD"));
    EXPECT_THAT(link.texts("drop"), ElementsAre("ML_HOLD"));
    EXPECT_THAT(link.texts("queue"), IsEmpty());
}

TEST_F(DispatchStepsTest, AFailingHoldRepeatIsWarnedOnce) {
    button(kMapLeft, HidProtocol::kButtonHeldFirst);
    link.failSends("link down");
    for (int i = 0; i < 3; ++i) {
        clock.advance(std::chrono::milliseconds(100));
        step();
    }
    EXPECT_THAT(log.messages("WARN"), ElementsAre("Managed map hold send failed: link down"));
}

// Not ready: autopilot presses go to the simulator's own events, when it is
// connected; a managed map press is refused and warned.
TEST_F(DispatchStepsTest, NotReadyFallsBackToSimulatorEventsWhenConnected) {
    link.setReady(false);
    button(kApMaster, HidProtocol::kButtonPressed);
    button(kSoftkey, HidProtocol::kButtonPressed);
    button(kMapUp, HidProtocol::kButtonPressed);
    link.setConnected(false);
    button(kApMaster, HidProtocol::kButtonPressed);
    EXPECT_THAT(link.calls(), ElementsAre(Call{"event", "AP_MASTER", SimLink::kPlain, 1}));
    EXPECT_THAT(log.messages("WARN"),
                ElementsAre("Managed map press send failed for MAP_UP: MobiFlight not ready"));
}

// One line a minute while events flow, written by the engine's step:
// only events that handed a command to the link count (queued, direct and
// simulator-event sends), not the hold's repeats nor events that sent
// nothing; a quiet minute writes nothing.
TEST_F(DispatchStepsTest, LatencyOfTheMinutesSendsIsSummedUpOnce) {
    using std::chrono::milliseconds;
    const Clock::TimePoint start = clock.now();
    for (int i = 0; i < 100; ++i) {
        const Clock::TimePoint readAt = start - milliseconds((i * 37) % 100 + 1);  // 1..100 ms
        if (i % 3 == 0)
            button(kSoftkey, HidProtocol::kButtonPressed, HidProtocol::kModePfd, readAt);
        if (i % 3 == 1)
            button(kMapLeft, HidProtocol::kButtonPressed, HidProtocol::kModePfd, readAt);
        if (i % 3 == 2) {
            link.setReady(false);  // the autopilot fallback
            button(kApMaster, HidProtocol::kButtonPressed, HidProtocol::kModePfd, readAt);
            link.setReady(true);
        }
    }
    const Clock::TimePoint longAgo = start - milliseconds(1000);
    button(kMapUp, HidProtocol::kButtonHeldFirst, HidProtocol::kModePfd, longAgo);
    button(kUnmapped, HidProtocol::kButtonPressed, HidProtocol::kModePfd, longAgo);
    button(kMapLeft, HidProtocol::kButtonReleased, HidProtocol::kModePfd, longAgo);  // a drop
    ASSERT_EQ(link.calls().size(), 101u);  // 100 sends and the drop

    clock.advance(std::chrono::seconds(59));
    step();
    ASSERT_EQ(link.texts("now").back(), "MU_PRESS");  // the hold's repeat
    EXPECT_THAT(latencyLines(), IsEmpty());
    clock.advance(std::chrono::seconds(1));
    step();
    clock.advance(std::chrono::minutes(1));  // quiet, but for the hold's repeats
    step();
    EXPECT_THAT(latencyLines(), ElementsAre("Latency over the last minute (report read to command "
                                            "sent): 100 events, p50 50.000 ms, p99 99.000 ms, "
                                            "max 100.000 ms"));
}

}  // namespace

namespace {

// A panel that floods the engine's inbox while the engine is held up: the
// oldest panel events give way (never a panel or link change), and the
// overflow is warned once until the inbox drains.
TEST(EngineInboxTest, AFloodKeepsTheNewestEventsAndWarnsOncePerOverflow) {
    LogCapture log;
    ManualClock clock;
    EngineInbox inbox(clock);
    inbox.open();
    const auto push = [&](std::uint16_t id) {
        PanelEvent item;
        item.event.type = HidProtocol::kEventEncoder;
        item.event.controlId = id;
        inbox.post(item);
    };
    inbox.post(engine_event::LinkChanged{true});
    const std::size_t bound = EngineInbox::kMaxEvents;
    for (std::size_t i = 0; i < bound + 5; ++i)
        push(static_cast<std::uint16_t>(i));
    EngineEvent item;
    const Clock::TimePoint never = Clock::TimePoint::max();
    ASSERT_EQ(inbox.wait(item, never), EngineInbox::Wait::Event);
    EXPECT_TRUE(std::holds_alternative<engine_event::LinkChanged>(item));
    ASSERT_EQ(inbox.wait(item, never), EngineInbox::Wait::Event);
    EXPECT_EQ(std::get<PanelEvent>(item).event.controlId, 6);
    for (std::size_t left = 2; left < bound; ++left)
        ASSERT_EQ(inbox.wait(item, never), EngineInbox::Wait::Event);
    EXPECT_EQ(std::get<PanelEvent>(item).event.controlId, bound + 4);
    EXPECT_EQ(inbox.wait(item, clock.now()), EngineInbox::Wait::Deadline);
    EXPECT_EQ(log.messages("WARN").size(), 1u);

    for (std::size_t i = 0; i <= bound; ++i)
        push(1);
    inbox.close();
    EXPECT_EQ(inbox.wait(item, never), EngineInbox::Wait::Closed);
    EXPECT_THAT(log.messages("WARN"),
                ElementsAre("Panel events arrive faster than they are handled: more than 1024 "
                            "waiting; the oldest are dropped",
                            "Panel events arrive faster than they are handled: more than 1024 "
                            "waiting; the oldest are dropped"));
}

}  // namespace

namespace {

// Turns of a knob that still wait add up in one event, up to what one
// report may carry; a press after them keeps its place.
TEST(EngineInboxTest, WaitingTurnsOfOneKnobAddUpUntilAnotherKindOfEventComes) {
    ManualClock clock;
    EngineInbox inbox(clock);
    inbox.open();
    const auto turn = [&](std::uint16_t id, std::int8_t detents,
                          std::uint8_t type = HidProtocol::kEventEncoder) {
        PanelEvent item;
        item.event.type = type;
        item.event.controlId = id;
        item.event.value = detents;
        item.boardId = kPfd;
        inbox.post(item);
    };
    for (int i = 0; i < 20; ++i) {
        turn(20, 2);  // HDG, 40 detents in all: 32 and 8
        turn(21, 1);  // ALT, between them
    }
    turn(20, -1);  // the other way: its own event
    turn(5, HidProtocol::kButtonPressed, HidProtocol::kEventButton);
    turn(20, 1);  // after the press: not merged
    std::vector<std::pair<std::uint16_t, int>> taken;
    EngineEvent item;
    while (inbox.wait(item, clock.now()) == EngineInbox::Wait::Event) {
        const PanelEvent& e = std::get<PanelEvent>(item);
        taken.emplace_back(e.event.controlId, e.event.value);
    }
    EXPECT_THAT(taken,
                ElementsAre(std::make_pair(20, 32), std::make_pair(21, 20), std::make_pair(20, 8),
                            std::make_pair(20, -1), std::make_pair(5, 1), std::make_pair(20, 1)));
}

}  // namespace
