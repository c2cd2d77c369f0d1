// From a panel event to the simulator: roles, actions, command texts, send
// kinds and amounts, the autopilot fallback and the trace line.
#include <regex>
#include <set>
#include <thread>

#include "emulation/sim_event_names.h"
#include "fakes/temp_dir.h"
#include "mapping/autopilot_fallback.h"
#include "mapping_fixture.h"

namespace {

using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

class DispatchTest : public MappingTest {
protected:
    std::string head(const Panel& panel) const {
        return "HID event from " + panel.name + " index=" + std::to_string(panel.index);
    }
    // A last event that is sure to be sent: once its text arrived, every
    // event before it was dispatched and its sends were written.
    void flush(int times = 1) {
        submit(pfd, button(kGate, 1));
        ASSERT_TRUE(waitRpn("GATE", times));
    }
};

// Plain sends keep their order one by one (kind 0), so a press between two
// presses of another control stays between them.
TEST_F(DispatchTest, PressIsQueuedAsOneSingleCommandAndTraced) {
    startEngine();
    startLink();
    blockEngineInGate();
    submit(pfd, button(kSoftkey, 1));
    submit(pfd, button(kApMaster, 1));
    submit(pfd, button(kSoftkey, 1));
    gate.open();
    ASSERT_TRUE(waitRpn("SK_PFD", 2));
    EXPECT_THAT(rpnTexts(), ElementsAre("GATE", "SK_PFD", "APM_PRESS", "SK_PFD"));

    // Every command is followed by the dummy the module needs.
    const std::vector<std::string> all = sim.moduleCommandTexts();
    const auto press = std::find(all.begin(), all.end(), "MF.SimVars.Set.1 SK_PFD");
    ASSERT_NE(press, all.end());
    ASSERT_NE(press + 1, all.end());
    EXPECT_EQ(*(press + 1), "MF.DummyCmd");

    EXPECT_EQ(traces().at(1), head(pfd) +  // after the gate's own
                                  " type=1 action=BUTTON_PRESS role=PFD(BUTTON) controlId=41"
                                  "(SOFTKEY_1) value=1 speed=0 mode=0 rpn=queued");
    EXPECT_THAT(transmittedEvents(), IsEmpty());  // a queued command needs no fallback
}

// Encoder steps of one text add up in one queue entry (kind 2) and go out
// as many times as the amount says.
TEST_F(DispatchTest, EncoderStepsAreCountedAndCoalesced) {
    startEngine();
    startLink();
    blockEngineInGate();
    submit(pfd, encoder(kHdg, -3, 0));
    submit(pfd, encoder(kAlt, 1, 0));
    submit(pfd, encoder(kHdg, -2, 0));
    gate.open();
    ASSERT_TRUE(waitRpn("ALT_INC"));
    EXPECT_THAT(rpnTexts(), ElementsAre("GATE", "HDG_DEC", "HDG_DEC", "HDG_DEC", "HDG_DEC",
                                        "HDG_DEC", "ALT_INC"));
    // The second HDG turn waited behind the first and joined it.
    EXPECT_EQ(traces().at(1), head(pfd) +
                                  " type=2 action=ENC_CCW role=PFD(ENCODER) controlId=20(HDG)"
                                  " value=-5 speed=0 mode=0 mfAmount=5 rpn=queued");
}

TEST_F(DispatchTest, FastTurnsUseTheFastTextOnceOrTheSpeedAsAmount) {
    startEngine();
    startLink();
    submit(pfd, encoder(kHdg, 1, 5));  // CW_FAST text exists
    submit(pfd, encoder(kAlt, 1, 5));  // no CW_FAST text: CW five times
    submit(pfd, encoder(kHdg, 1, 3));  // below the fast threshold: CW, amount 3
    submit(pfd, encoder(kHdg, 2, 0));  // speed 0 does not count
    ASSERT_TRUE(waitRpn("HDG_INC", 5));
    flush();
    EXPECT_EQ(countRpn("HDG_INC_FAST"), 1);
    EXPECT_EQ(countRpn("ALT_INC"), 5);
    EXPECT_EQ(countRpn("HDG_INC"), 5);
    const std::vector<std::string> lines = traces();
    ASSERT_GE(lines.size(), 4u);
    EXPECT_THAT(lines[0], EndsWith(" value=1 speed=5 mode=0 mfAmount=1 fast=1 rpn=queued"));
    EXPECT_THAT(lines[1], EndsWith(" value=1 speed=5 mode=0 mfAmount=5 rpn=queued"));
    EXPECT_THAT(lines[2], EndsWith(" value=1 speed=3 mode=0 mfAmount=3 rpn=queued"));
    EXPECT_THAT(lines[3], EndsWith(" value=2 speed=0 mode=0 mfAmount=2 rpn=queued"));
}

TEST_F(DispatchTest, RoleComesFromTheModeByteThenTheDeviceEntry) {
    startEngine();
    startLink();
    submit(pfd, button(kSoftkey, 1, 1));  // mode 1 overrides the entry's PFD
    submit(pfd, button(kSoftkey, 1, 2));  // mode 2: the entry's role
    submit(aux, button(kSoftkey, 1, 2));  // mode 2, no entry: DEFAULT texts only
    submit(aux, button(kMapLeft, 1, 2));  // only a PFD text: nothing to send
    flush();
    EXPECT_THAT(rpnTexts(), ElementsAre("SK_MFD", "SK_PFD", "SK_DEFAULT", "GATE"));

    const std::vector<std::string> lines = traces();
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[0], head(pfd) +
                            " type=1 action=BUTTON_PRESS role=MFD configuredRole=PFD(BUTTON)"
                            " controlId=41(SOFTKEY_1) value=1 speed=0 mode=1 rpn=queued");
    EXPECT_THAT(lines[1], HasSubstr(" action=BUTTON_PRESS role=PFD(BUTTON) controlId=41"));
    EXPECT_EQ(lines[2], head(aux) +
                            " type=1 action=BUTTON_PRESS(BUTTON) controlId=41(SOFTKEY_1)"
                            " value=1 speed=0 mode=2 rpn=queued");
    EXPECT_EQ(lines[3], head(aux) +
                            " type=1 action=BUTTON_PRESS(BUTTON) controlId=1(MAP_LEFT)"
                            " value=1 speed=0 mode=2");
    EXPECT_THAT(log.messages("WARN"), IsEmpty());
}

TEST_F(DispatchTest, AutopilotButtonWithoutEntryIsSentAsSimulatorEvent) {
    startEngine();
    startLink();
    submit(pfd, button(kApHdg, 1));
    submit(pfd, button(kApHdg, 0));  // only presses fall back
    ASSERT_TRUE(SimEmulator::waitUntil([&] { return !transmittedEvents().empty(); }));
    flush();
    EXPECT_THAT(transmittedEvents(), ElementsAre("AP_HDG_HOLD"));
    EXPECT_THAT(rpnTexts(), ElementsAre("GATE"));
    const std::vector<std::string> lines = traces();
    EXPECT_EQ(lines.at(0), head(pfd) +
                               " type=1 action=BUTTON_PRESS role=PFD(BUTTON) controlId=7(AP_HDG)"
                               " value=1 speed=0 mode=0 simEvent=sent");
    EXPECT_THAT(lines.at(1), EndsWith(" mode=0"));
}

TEST_F(DispatchTest, AutopilotFallbackNeedsAConnectedSimulator) {
    startEngine();  // no simulator link at all
    submit(pfd, button(kApHdg, 1));
    ASSERT_TRUE(waitTraces(1));
    EXPECT_THAT(traces().at(0), EndsWith(" value=1 speed=0 mode=0"));
    EXPECT_THAT(sim.transmittedEvents(), IsEmpty());
    EXPECT_THAT(log.messages("WARN"), IsEmpty());
}

// Connected, but the MobiFlight module never confirms the registration.
TEST_F(DispatchTest, MobiFlightNotReadyFallsBackForAutopilotButtonsOnly) {
    sim.setRegistrationReply(SimEmulator::RegistrationReply::None);
    startEngine();
    startLink(false);
    submit(pfd, button(kApMaster, 1));  // in the autopilot table
    submit(pfd, button(kSoftkey, 1));   // not in it
    submit(pfd, button(kMapUp, 1));     // managed map press: direct send refused
    submit(pfd, encoder(kHdg, 2, 0));
    ASSERT_TRUE(waitTraces(4));

    EXPECT_THAT(transmittedEvents(), ElementsAre("AP_MASTER"));
    EXPECT_THAT(rpnTexts(), IsEmpty());
    EXPECT_EQ(log.count("MobiFlight not ready; using SimConnect fallback for AP_MASTER"), 1);
    EXPECT_EQ(log.count("MobiFlight not ready; using SimConnect fallback for SOFTKEY_1"), 1);
    EXPECT_EQ(log.count("MobiFlight not ready; using SimConnect fallback for HDG"), 1);
    EXPECT_THAT(log.messages("WARN"),
                ElementsAre("Managed map press send failed for MAP_UP: MobiFlight not ready"));
    const std::vector<std::string> lines = traces();
    EXPECT_THAT(lines[0], EndsWith(" mode=0 simEvent=sent"));
    EXPECT_THAT(lines[1], EndsWith(" mode=0"));
    EXPECT_THAT(lines[3], EndsWith(" mode=0"));  // no amount without a send
}

TEST_F(DispatchTest, EntryWithoutTextForTheRoleSendsNothingAtAll) {
    startEngine();
    startLink();
    submit(pfd, button(kApAlt, 1));  // AP_ALT has an MFD text only; id 8 is in the table
    flush();
    EXPECT_THAT(rpnTexts(), ElementsAre("GATE"));
    EXPECT_THAT(transmittedEvents(), IsEmpty());
    EXPECT_THAT(traces().at(0), EndsWith(" controlId=8(AP_ALT) value=1 speed=0 mode=0"));
}

// Copies of the hold text still waiting in the MobiFlight queue would act
// after the button was let go; the press itself must still happen, also
// when the release follows before the queue got to it.
TEST_F(DispatchTest, ReleaseDropsQueuedHoldCopiesButKeepsThePress) {
    startEngine();
    startLink();
    blockEngineInGate();
    submit(pfd, button(kNoseUp, 1));
    submit(pfd, button(kSoftkey, 1));
    submit(pfd, button(kNoseUp, 2));
    submit(pfd, button(kNoseUp, 2));  // a second hold is not queued twice
    submit(pfd, button(kNoseUp, 0));
    submit(pfd, button(kNoseDown, 1));  // hold text = press text: a quick tap
    submit(pfd, button(kNoseDown, 0));
    gate.open();
    ASSERT_TRUE(waitRpn("ND"));
    flush(2);
    EXPECT_THAT(rpnTexts(), ElementsAre("GATE", "NU_PRESS", "SK_PFD", "NU_RELEASE", "ND", "GATE"));
}

TEST_F(DispatchTest, MeaninglessEventsDispatchNothingAndTheWorkerGoesOn) {
    startEngine();
    startLink();
    HidProtocol::HidEvent odd = button(kSoftkey, 1);
    odd.type = 9;
    submit(pfd, odd);
    submit(pfd, encoder(kHdg, 0, 7));     // no steps
    submit(pfd, button(kSoftkey, 7));     // no such button state
    submit(pfd, button(kUnmapped, 1));    // no name for the control
    submit(pfd, button(kSoftkey, 1, 9));  // entry role PFD stands in
    flush();
    EXPECT_THAT(rpnTexts(), ElementsAre("SK_PFD", "GATE"));
    EXPECT_THAT(transmittedEvents(), IsEmpty());
    const std::vector<std::string> lines = traces();
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[0],
              head(pfd) + " type=9 role=PFD controlId=41(SOFTKEY_1) value=1 speed=0 mode=0");
    EXPECT_EQ(lines[1],
              head(pfd) + " type=2 role=PFD(ENCODER) controlId=20(HDG) value=0 speed=7 mode=0");
    EXPECT_EQ(
        lines[2],
        head(pfd) + " type=1 role=PFD(BUTTON) controlId=41(SOFTKEY_1) value=7 speed=0 mode=0");
    EXPECT_EQ(lines[3], head(pfd) +
                            " type=1 action=BUTTON_PRESS role=PFD(BUTTON) controlId=99 value=1"
                            " speed=0 mode=0");
    EXPECT_THAT(log.messages("WARN"), IsEmpty());
}

TEST_F(DispatchTest, DisabledMobiFlightSendsNoCommandText) {
    config.mobiflight.enabled = false;
    startEngine();
    startLink(false);
    submit(pfd, button(kSoftkey, 1));
    submit(pfd, button(kMapLeft, 1));  // not a managed map press either
    submit(pfd, button(kApHdg, 1));    // no entry: the fallback still works
    ASSERT_TRUE(waitTraces(3));
    ASSERT_TRUE(SimEmulator::waitUntil([&] { return !transmittedEvents().empty(); }));
    EXPECT_THAT(rpnTexts(), IsEmpty());
    EXPECT_THAT(transmittedEvents(), ElementsAre("AP_HDG_HOLD"));
    EXPECT_THAT(log.messages("WARN"), IsEmpty());
}

TEST_F(DispatchTest, StartTwiceIsRefusedAndStopIsIdempotent) {
    startEngine();
    std::string error;
    EXPECT_FALSE(
        engine->start(config, buttons, eventMap, *link, output, error));
    EXPECT_EQ(error, "Mapping engine already running");
    EXPECT_TRUE(engine->isRunning());
    submit(pfd, button(kSoftkey, 1));
    EXPECT_TRUE(waitTraces(1));  // the first start still serves events
    engine->stop();
    engine->stop();
    EXPECT_FALSE(engine->isRunning());
    submit(pfd, button(kSoftkey, 1));  // dropped while stopped
    ASSERT_TRUE(
        engine->start(config, buttons, eventMap, *link, output, error))
        << error;
    submit(pfd, button(kApAlt, 1));
    ASSERT_TRUE(waitTraces(2));
    EXPECT_THAT(traces()[1], HasSubstr("(AP_ALT)"));
}

// Stop while the event worker is busy: it finishes that event only, and a
// restarted engine does not dispatch what was left in the queue.
TEST_F(DispatchTest, StopDispatchesAtMostTheEventInHand) {
    startEngine();
    startLink();
    gate.close("MF.SimVars.Set.1 MU_PRESS");
    submit(pfd, button(kMapUp, 1));  // a direct send, on the event worker
    ASSERT_TRUE(gate.waitBlocked());
    submit(pfd, button(kSoftkey, 1));
    submit(pfd, button(kMapLeft, 2));
    std::thread stopper([this] { engine->stop(); });
    ASSERT_TRUE(SimEmulator::waitUntil([&] { return !engine->isRunning(); }));
    gate.open();
    stopper.join();
    EXPECT_EQ(traces().size(), 1u);

    std::string error;
    ASSERT_TRUE(
        engine->start(config, buttons, eventMap, *link, output, error));
    flush();
    EXPECT_THAT(rpnTexts(), ElementsAre("MU_PRESS", "GATE"));
    // The trace line follows the send: the command may reach the simulator first.
    ASSERT_TRUE(waitTraces(2));
    EXPECT_EQ(traces().size(), 2u);
    EXPECT_THAT(traces()[1], HasSubstr("(GATE)"));
}

// The fallback sends these names to the simulator itself, and the examples
// hand theirs to it as key events: each must be one the simulator knows.
TEST(SimulatorEventNamesTest, FallbackAndExampleEventsAreRealSimulatorEvents) {
    const std::vector<std::string>& known = emulation::knownSimEventNames();
    const std::set<std::string> names(known.begin(), known.end());
    for (const auto& [control, event] : autopilotFallbackTable())
        EXPECT_EQ(names.count(event), 1u) << "control " << control << ": " << event;
    EXPECT_STREQ(autopilotFallback(16), "FLIGHT_LEVEL_CHANGE");

    const std::string examples = readFileBytes(CORVANE_SOURCE_DIR "/examples/button_config.json");
    const std::regex keyEvent(R"(\(>K:([A-Z0-9_]+)\))");
    int found = 0;
    for (std::sregex_iterator it(examples.begin(), examples.end(), keyEvent), end; it != end;
         ++it, ++found) {
        EXPECT_EQ(names.count((*it)[1]), 1u) << (*it)[1];
    }
    EXPECT_GT(found, 10);
}

}  // namespace
