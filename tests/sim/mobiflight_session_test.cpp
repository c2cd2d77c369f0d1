#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "emulation/emulator_library.h"
#include "emulation/sim_emulator.h"
#include "fakes/log_capture.h"
#include "fakes/test_clocks.h"
#include "sim/mobiflight_protocol.h"
#include "sim/mobiflight_session.h"
#include "sim/simconnect_client.h"

using namespace std::chrono;

namespace {

using Session = MobiFlightSession;
const std::string kSet = "MF.SimVars.Set.1 ";
const std::string kDummy = "MF.DummyCmd";
const std::string kRegister = "MF.Clients.Add.CorvaneHID";
const std::string kRegistered = "MF.Clients.Add.CorvaneHID.Finished";
const std::string kAddBacklight = "MF.SimVars.Add.(L:LIGHTING_POTENTIOMETER_5)";
const std::string kDefaultChannel = "MobiFlight.Command";
const std::string kOwnChannel = "CorvaneHID.Command";

std::vector<std::uint8_t> textBytes(const std::string& text) {
    std::vector<std::uint8_t> bytes(text.begin(), text.end());
    bytes.push_back(0);
    return bytes;
}

// The session on the test thread, on manual time, against the emulator. The
// SimConnect client keeps its own pump thread (on a clock of its own); what
// it reports is copied into the inbox and handed to the session here, as
// the engine thread will.
class MobiFlightSessionTest : public ::testing::Test {
protected:
    struct Event {
        bool link = false;
        bool connected = false;
        std::uint32_t requestId = 0;
        std::vector<std::uint8_t> data;
    };

    void TearDown() override { simConnect.stop(); }

    void start(MobiFlightSettings settings = {}) {
        {
            std::lock_guard<std::mutex> guard(inboxLock);
            inbox.clear();
        }
        session = std::make_unique<Session>(simConnect, settings);
        session->setLVarHandler([this](const LVarPayload& p) { lvars.push_back(p.shown()); });
        simConnect.setClientDataHandler(
            [this](std::uint32_t id, const std::uint8_t* data, std::uint32_t size) {
                post({false, false, id, std::vector<std::uint8_t>(data, data + size)});
            });
        std::string error;
        ASSERT_TRUE(simConnect.start(
            "CorvaneHID",
            [this](bool connected) {
                post({true, connected, 0, {}});
            },
            {}, error))
            << error;
    }

    void startReady(MobiFlightSettings settings = {}) {
        sim.setSimulatorRunning(true);
        start(settings);
        ASSERT_TRUE(runUntil([&] { return session->ready(); }));
    }

    void post(Event event) {
        {
            std::lock_guard<std::mutex> guard(inboxLock);
            inbox.push_back(std::move(event));
        }
        inboxSignal.notify_all();
    }

    // Hands what arrived to the session and ticks it until it wants a later time.
    void serve() {
        std::deque<Event> events;
        {
            std::lock_guard<std::mutex> guard(inboxLock);
            events.swap(inbox);
        }
        const Clock::TimePoint now = clock.now();
        for (const Event& event : events) {
            if (event.link) {
                session->onLinkChange(event.connected, now);
            } else {
                ++answers[event.requestId];
                session->onClientData(event.requestId, event.data, now);
            }
        }
        for (int batches = 0; (next = session->tick(now)) <= now; ++batches)
            ASSERT_LT(batches, 1000);
    }

    // Serves until `done` holds, waiting (in real time, at most 10 s) for
    // the next report between rounds.
    bool runUntil(const std::function<bool()>& done) {
        const auto end = steady_clock::now() + seconds(10);
        for (;;) {
            serve();
            if (done()) return true;
            std::unique_lock<std::mutex> lock(inboxLock);
            if (!inboxSignal.wait_until(lock, end, [&] { return !inbox.empty(); })) return done();
        }
    }

    // Moves time to the session's deadline and serves.
    void advanceToNext() {
        ASSERT_NE(next, Session::kNever);
        clock.advance(next - clock.now());
        serve();
    }

    std::vector<std::string> commandsOn(const std::string& channel) const {
        std::vector<std::string> texts;
        for (const auto& command : sim.moduleCommands())
            if (command.channel == channel) texts.push_back(command.text);
        return texts;
    }
    std::vector<std::string> ownCommands() const { return commandsOn(kOwnChannel); }
    int countCommand(const std::string& text) const {
        const auto all = sim.moduleCommandTexts();
        return static_cast<int>(std::count(all.begin(), all.end(), text));
    }
    int attempts() const {
        const auto all = commandsOn(kDefaultChannel);
        return static_cast<int>(std::count(all.begin(), all.end(), kRegister));
    }
    bool send(const std::string& rpn, Session::Kind kind = Session::kPlain,
              std::int32_t amount = 1) {
        std::string error;
        const bool sent = session->send(rpn, kind, amount, error);
        EXPECT_TRUE(sent) << error;
        return sent;
    }

    LogCapture log;
    ManualClock clock;
    ManualClock simConnectClock{ManualClock::Mode::Step};
    SimEmulator sim{clock};
    EmulatorLibrary simLibrary{sim};
    SimConnectClient simConnect{simLibrary, simConnectClock, sim.processProbe()};
    std::mutex inboxLock;
    std::condition_variable inboxSignal;
    std::deque<Event> inbox;
    std::unique_ptr<Session> session;
    Clock::TimePoint next = Session::kNever;
    std::map<std::uint32_t, int> answers;  // test thread only
    std::vector<std::string> lvars;        // test thread only
};

// --- registration ----------------------------------------------------------

// The default channel belongs to MobiFlight's own program: it carries only
// the registration; everything else goes to the session's own channel.
TEST_F(MobiFlightSessionTest, RegistersOnTheDefaultChannelThenWorksOnlyOnItsOwn) {
    startReady();
    // Time stands still: one attempt, answered.
    EXPECT_EQ(commandsOn(kDefaultChannel),
              (std::vector<std::string>{kDummy, "MF.Ping", kRegister}));
    EXPECT_EQ(ownCommands(), (std::vector<std::string>{kDummy, "MF.SimVars.Clear", kAddBacklight}));
    EXPECT_EQ(sim.moduleVariables("CorvaneHID"),
              std::vector<std::string>{"(L:LIGHTING_POTENTIOMETER_5)"});
    EXPECT_EQ(next, Session::kNever);
    // The value 0 changes no byte of the values area: only the read once tells it.
    ASSERT_TRUE(runUntil([&] { return lvars.size() == 1; }));
    sim.setLVar("LIGHTING_POTENTIOMETER_5", 0.4f);
    ASSERT_TRUE(runUntil([&] { return lvars.size() == 2; }));
    EXPECT_EQ(lvars, (std::vector<std::string>{"0.000000", "0.400000"}));
    EXPECT_TRUE(log.contains("MobiFlight LVars: 0.400000"));

    // A repeated ".Finished" changes nothing.
    const int seen = answers[mobiflight::kResponseRequest];
    sim.writeClientData("MobiFlight.Response", 0, textBytes("x"));
    sim.writeClientData("MobiFlight.Response", 0, textBytes(kRegistered));
    ASSERT_TRUE(runUntil([&] { return answers[mobiflight::kResponseRequest] >= seen + 2; }));
    send("1");
    std::string error;
    ASSERT_TRUE(session->sendNow("2", error, clock.now())) << error;
    serve();
    EXPECT_EQ(ownCommands(), (std::vector<std::string>{kDummy, "MF.SimVars.Clear", kAddBacklight,
                                                       kSet + "2", kDummy, kSet + "1", kDummy}));
    EXPECT_EQ(log.count("MobiFlight client registered"), 1);
    EXPECT_EQ(commandsOn(kDefaultChannel).size(), 3u);
}

// A restart while the simulator and the module keep running: whatever the
// response area holds from before, the registration completes, and the
// reused record's old variables are cleared.
TEST_F(MobiFlightSessionTest, RegistrationCompletesWhateverTheResponseAreaHolds) {
    startReady();
    std::vector<std::uint8_t> noise(1024);
    for (std::size_t i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<std::uint8_t>((7 + i * 131) % 251 + 1);  // never zero
    const std::vector<std::pair<std::string, std::function<void()>>> before{
        {"an earlier pong", [&] { sim.moduleRespond("MF.Pong"); }},
        {"an earlier finish", [&] { sim.moduleRespond(kRegistered); }},
        {"bytes without a zero", [&] { sim.writeClientData("MobiFlight.Response", 0, noise); }},
        {"another client's finish", [&] { sim.moduleRespond("MF.Clients.Add.Other.Finished"); }},
    };
    for (const auto& [what, prepare] : before) {
        session->stop();
        simConnect.stop();
        sim.setLVar("X", 1.0f);
        sim.writeClientData(kOwnChannel, 0, textBytes("MF.SimVars.Add.(L:X)"));
        prepare();
        const int registered = log.count("MobiFlight client registered");
        start();
        ASSERT_TRUE(runUntil([&] { return session->ready(); })) << what;
        EXPECT_EQ(log.count("MobiFlight client registered"), registered + 1) << what;
        EXPECT_EQ(sim.moduleVariables("CorvaneHID"),
                  std::vector<std::string>{"(L:LIGHTING_POTENTIOMETER_5)"})
            << what;
    }
}

// The module stays silent: attempts at once and after 1, 2, 4, then every
// 5 s, one WARN at 10 s, and a note when it answers at last. Queued
// commands wait for it without making the session spin.
TEST_F(MobiFlightSessionTest, SilenceIsWarnedOnceWhileAttemptsFollowTheirSchedule) {
    sim.setRegistrationReply(SimEmulator::RegistrationReply::None);
    sim.setSimulatorRunning(true);
    start();
    ASSERT_TRUE(runUntil([&] { return attempts() == 1; }));
    const Clock::TimePoint begun = clock.now();
    send("1 (>K:AP_MASTER)");
    send("2 (>K:AP_MASTER)");
    serve();
    const std::vector<std::pair<int, int>> schedule{{1, 2},  {3, 3},  {7, 4},
                                                    {10, 4}, {12, 5}, {17, 6}};
    for (const auto& [second, count] : schedule) {
        EXPECT_EQ(next - begun, seconds(second));
        advanceToNext();
        EXPECT_EQ(attempts(), count) << second;
        EXPECT_EQ(log.count("MobiFlight module silent for 10 s"), second >= 10 ? 1 : 0);
    }
    EXPECT_TRUE(ownCommands().empty());
    EXPECT_EQ(log.messages("WARN"),
              std::vector<std::string>{"MobiFlight module silent for 10 s; check that the "
                                       "MobiFlight WASM module is installed"});

    sim.setRegistrationReply(SimEmulator::RegistrationReply::Finished);
    advanceToNext();
    ASSERT_TRUE(runUntil([&] { return session->ready(); }));
    EXPECT_TRUE(log.contains("MobiFlight module answered after 22 s"));
    EXPECT_EQ(ownCommands(), (std::vector<std::string>{kDummy, "MF.SimVars.Clear", kAddBacklight,
                                                       kSet + "1 (>K:AP_MASTER)", kDummy,
                                                       kSet + "2 (>K:AP_MASTER)", kDummy}));
    EXPECT_EQ(next, Session::kNever);
}

// A failed set-up of the default channels waits for the next link; of the
// own channels, for the next answer.
TEST_F(MobiFlightSessionTest, ChannelSetUpFailuresAreWarnedAndTriedAgain) {
    sim.failCalls("SimConnect_AddToClientDataDefinition", simconnect::E_FAIL_RESULT, 1);
    sim.setSimulatorRunning(true);
    start();
    ASSERT_TRUE(runUntil([&] { return session->connected(); }));
    EXPECT_TRUE(
        log.contains("MobiFlight channel initialization failed: "
                     "SimConnect_AddToClientDataDefinition failed (0x80004005)"));
    EXPECT_TRUE(sim.moduleCommands().empty());
    EXPECT_EQ(next, Session::kNever);

    sim.breakConnections();
    // Served in the round that made the attempt: its answer comes in a later one.
    ASSERT_TRUE(runUntil([&] { return attempts() == 1; }));
    sim.failCalls("SimConnect_MapClientDataNameToID", simconnect::E_FAIL_RESULT, 1);
    ASSERT_TRUE(runUntil([&] {
        return log.contains("failed: SimConnect_MapClientDataNameToID failed (0x80004005)");
    }));
    EXPECT_FALSE(session->ready());
    advanceToNext();  // the next attempt, and its answer
    ASSERT_TRUE(runUntil([&] { return session->ready(); }));
    EXPECT_EQ(log.count("MobiFlight client registered"), 1);
}

// --- the queue ---------------------------------------------------------------

TEST_F(MobiFlightSessionTest, CommandsWaitForTheLinkAndAreDroppedAtEveryLinkChange) {
    start();
    send("1 (>K:STALE)");
    send("HOLD", Session::kHold);
    serve();
    EXPECT_EQ(next, Session::kNever);  // no polling while there is no link

    sim.setSimulatorRunning(true);
    ASSERT_TRUE(runUntil([&] { return session->ready(); }));
    send("1 (>K:FRESH)");
    serve();
    EXPECT_EQ(countCommand(kSet + "1 (>K:FRESH)"), 1);
    EXPECT_EQ(countCommand(kSet + "1 (>K:STALE)"), 0);
    EXPECT_EQ(countCommand(kSet + "HOLD"), 0);

    // Sent after the link broke, before the session heard of it.
    sim.setRegistrationReply(SimEmulator::RegistrationReply::None);
    sim.breakConnections();
    {
        std::unique_lock<std::mutex> lock(inboxLock);
        ASSERT_TRUE(inboxSignal.wait_for(lock, seconds(10), [&] {
            return std::any_of(inbox.begin(), inbox.end(),
                               [](const Event& e) { return e.link && !e.connected; });
        }));
    }
    send("1 (>K:LOST)");
    ASSERT_TRUE(runUntil([&] { return sim.connectionCount() == 2 && session->connected(); }));
    EXPECT_TRUE(log.contains("MobiFlight client waiting for SimConnect"));
    send("1 (>K:LATE)");
    ASSERT_TRUE(runUntil([&] { return attempts() == 2; }));
    EXPECT_FALSE(session->ready());
    EXPECT_EQ(countCommand(kSet + "1 (>K:LOST)"), 0);
    EXPECT_EQ(countCommand(kSet + "1 (>K:LATE)"), 0);
}

// What is queued between two ticks, and what the next tick writes.
TEST_F(MobiFlightSessionTest, QueuedCommandsCoalesceAndEachWriteIsFollowedByADummy) {
    enum Op { kPress, kHold, kSteps, kDrop };
    struct Step {
        Op op;
        std::string rpn;
        std::int32_t amount = 1;
    };
    struct Case {
        const char* what;
        std::vector<Step> steps;
        std::vector<std::string> written;  // RPN texts, each followed by a dummy
    };
    const std::vector<Case> cases{
        {"in order", {{kPress, "P1"}, {kPress, "P2"}}, {"P1", "P2"}},
        {"a hold once", {{kHold, "H"}, {kHold, "H"}}, {"H"}},
        {"encoder steps add up in their entry",
         {{kSteps, "E", 2}, {kPress, "M"}, {kSteps, "E", 1}, {kSteps, "E", 3}},
         {"E", "E", "E", "E", "E", "E", "M"}},
        {"amount 0 does nothing", {{kSteps, "Z", 0}, {kPress, "Y", 0}}, {}},
        {"dropPending cancels that command only",
         {{kHold, "U"}, {kSteps, "U", 4}, {kPress, "U"}, {kHold, "K"}, {kDrop, "U"}, {kDrop, ""}},
         {"K"}},
        {"a dropped hold is queued again", {{kHold, "U"}, {kDrop, "U"}, {kHold, "U"}}, {"U"}},
        {"a written encoder entry is gone: more steps make a new one", {{kSteps, "E", 1}}, {"E"}},
    };
    startReady();
    for (const Case& c : cases) {
        const std::size_t before = ownCommands().size();
        for (const Step& step : c.steps) {
            if (step.op == kDrop) {
                session->dropPending(step.rpn);
            } else {
                const Session::Kind kinds[] = {Session::kPlain, Session::kHold, Session::kEncoder};
                send(step.rpn, kinds[step.op], step.amount);
            }
        }
        serve();
        std::vector<std::string> expected;
        for (const std::string& rpn : c.written) {
            expected.push_back(kSet + rpn);
            expected.push_back(kDummy);
        }
        const auto own = ownCommands();
        EXPECT_EQ(std::vector<std::string>(own.begin() + before, own.end()), expected) << c.what;
        EXPECT_EQ(next, Session::kNever) << c.what;
    }
}

TEST_F(MobiFlightSessionTest, OneTickWritesABoundedBatch) {
    startReady();
    send("ENC", Session::kEncoder, 40);  // one entry, whatever its steps
    for (std::size_t i = 1; i < Session::kMaxBatch + 4; ++i)
        send("P" + std::to_string(i));
    const Clock::TimePoint now = clock.now();
    EXPECT_EQ(session->tick(now), now);
    EXPECT_EQ(countCommand(kSet + "ENC"), 40);
    EXPECT_EQ(countCommand(kSet + "P" + std::to_string(Session::kMaxBatch - 1)), 1);
    EXPECT_EQ(countCommand(kSet + "P" + std::to_string(Session::kMaxBatch)), 0);
    EXPECT_EQ(session->tick(now), Session::kNever);
    EXPECT_EQ(countCommand(kSet + "P" + std::to_string(Session::kMaxBatch + 3)), 1);
}

// Presses and encoder steps pile up only to their bounds: the oldest presses
// give way, extra steps are dropped, and each bound is warned once per
// episode.
TEST_F(MobiFlightSessionTest, QueuedPressesAndEncoderBacklogStopAtTheirBounds) {
    startReady();
    const int presses = static_cast<int>(Session::kMaxQueuedPresses) + 44;
    const std::string pile =
        "MobiFlight encoder steps pile up for ENC: more than 512 waiting; the extra steps are "
        "dropped";
    const std::string overflow =
        "MobiFlight commands wait faster than they are written: more than 256 queued; the oldest "
        "are dropped";
    for (int round = 1; round <= 2; ++round) {
        send("ENC", Session::kEncoder, Session::kMaxEncoderBacklog - 10);
        send("ENC", Session::kEncoder, 200);
        send("ENC", Session::kEncoder, 200);
        for (int i = 0; i < presses; ++i)
            send("P" + std::to_string(i));
        serve();
        EXPECT_EQ(countCommand(kSet + "ENC"), round * Session::kMaxEncoderBacklog);
        EXPECT_EQ(countCommand(kSet + "P43"), 0);
        EXPECT_EQ(countCommand(kSet + "P44"), round);
        EXPECT_EQ(countCommand(kSet + "P" + std::to_string(presses - 1)), round);
    }
    EXPECT_EQ(log.messages("WARN"), (std::vector<std::string>{pile, overflow, pile, overflow}));
}

TEST_F(MobiFlightSessionTest, RateLimitSpacesQueuedEntriesButNotEncoderStepsOrDirectSends) {
    MobiFlightSettings settings;
    settings.rpnRateLimitMs = 100;
    startReady(settings);
    const Clock::TimePoint begun = clock.now();
    for (const char* rpn : {"A", "B", "C"})
        send(rpn);
    send("E", Session::kEncoder, 3);
    serve();
    EXPECT_EQ(next - begun, milliseconds(100));
    clock.advance(milliseconds(99));
    serve();
    EXPECT_EQ(next - begun, milliseconds(100));
    EXPECT_EQ(countCommand(kSet + "B"), 0);
    for (const auto& [rpn, count] :
         std::vector<std::pair<std::string, int>>{{"B", 1}, {"C", 1}, {"E", 3}}) {
        advanceToNext();
        EXPECT_EQ(countCommand(kSet + rpn), count);
    }
    std::string error;
    ASSERT_TRUE(session->sendNow("NOW", error, clock.now())) << error;

    std::map<std::string, std::vector<milliseconds>> times;
    for (const auto& command : sim.moduleCommands())
        times[command.text].push_back(duration_cast<milliseconds>(command.time - begun));
    EXPECT_EQ(times[kSet + "A"], std::vector<milliseconds>{milliseconds(0)});
    EXPECT_EQ(times[kSet + "B"], std::vector<milliseconds>{milliseconds(100)});
    EXPECT_EQ(times[kSet + "C"], std::vector<milliseconds>{milliseconds(200)});
    EXPECT_EQ(times[kSet + "E"], std::vector<milliseconds>(3, milliseconds(300)));
    EXPECT_EQ(times[kSet + "NOW"], std::vector<milliseconds>{milliseconds(300)});
    EXPECT_EQ(next, Session::kNever);
}

// --- writes ------------------------------------------------------------------

TEST_F(MobiFlightSessionTest, CommandsUpTo1023BytesGoWholeAndLongerOnesAreCutWithAWarning) {
    startReady();
    std::string error;
    const std::string exact(1023 - kSet.size(), 'B');
    send(exact);
    serve();
    ASSERT_TRUE(session->sendNow(exact, error, clock.now())) << error;
    EXPECT_EQ(countCommand(kSet + exact), 2);
    EXPECT_EQ(ownCommands().back(), kDummy);
    EXPECT_FALSE(log.contains("MobiFlight command truncated"));

    const std::string rpn(1100, 'A');
    send(rpn);
    serve();
    EXPECT_EQ(countCommand((kSet + rpn).substr(0, 1023)), 1);
    EXPECT_EQ(log.count("MobiFlight command truncated to 1024 bytes"), 1);
    EXPECT_TRUE(log.contains("MobiFlight command: " + kSet + rpn));  // the debug line has it whole
}

// Lost writes are warned once and counted a minute later, on the session's time.
TEST_F(MobiFlightSessionTest, WriteFailuresAreWarnedOnceThenCountedAndNotRetried) {
    startReady();
    sim.failCalls("SimConnect_SetClientData", simconnect::E_INVALIDARG_RESULT, 3);
    for (const char* lost : {"1 (>K:LOST)", "2 (>K:LOST)", "3 (>K:LOST)"})
        send(lost);
    send("1 (>K:NEXT)");
    serve();
    EXPECT_EQ(countCommand(kSet + "1 (>K:LOST)"), 0);
    EXPECT_EQ(ownCommands().back(), kDummy);
    EXPECT_EQ(countCommand(kSet + "1 (>K:NEXT)"), 1);
    const std::string failed =
        "MobiFlight send failed: SimConnect_SetClientData failed (0x80070057)";
    EXPECT_EQ(log.count(failed), 1);
    clock.advance(minutes(1));
    serve();
    EXPECT_TRUE(log.contains(failed + " (repeated 2 times)"));

    std::string error;
    sim.failCalls("SimConnect_SetClientData", simconnect::E_FAIL_RESULT, 1);
    EXPECT_FALSE(session->sendNow("1 (>K:DIRECT)", error, clock.now()));
    EXPECT_EQ(error, "SimConnect_SetClientData failed (0x80004005)");
}

// --- refusals ----------------------------------------------------------------

TEST_F(MobiFlightSessionTest, RefusalsComeInTheirOrderAndStopOrDisabledRefuseEverything) {
    sim.setRegistrationReply(SimEmulator::RegistrationReply::None);
    start();
    std::string error;
    EXPECT_FALSE(session->send("", Session::kPlain, 1, error));
    EXPECT_EQ(error, "Empty RPN command");
    EXPECT_FALSE(session->sendNow("X", error, clock.now()));
    EXPECT_EQ(error, "SimConnect is not connected");
    sim.setSimulatorRunning(true);
    ASSERT_TRUE(runUntil([&] { return attempts() == 1; }));
    EXPECT_FALSE(session->sendNow("X", error, clock.now()));
    EXPECT_EQ(error, "MobiFlight not ready");

    send("QUEUED");
    session->stop();
    session->stop();
    EXPECT_FALSE(session->send("X", Session::kPlain, 1, error));
    EXPECT_EQ(error, "MobiFlight not running");
    EXPECT_FALSE(session->sendNow("X", error, clock.now()));
    EXPECT_EQ(error, "MobiFlight not running");
    // Nothing brings it back: not a new link, not an answer.
    session->onLinkChange(true, clock.now());
    session->onClientData(mobiflight::kResponseRequest, textBytes(kRegistered), clock.now());
    EXPECT_EQ(session->tick(clock.now() + seconds(30)), Session::kNever);
    EXPECT_FALSE(session->ready());
    EXPECT_EQ(attempts(), 1);
    EXPECT_TRUE(ownCommands().empty());

    MobiFlightSettings settings;
    settings.enabled = false;
    Session disabled(simConnect, settings);
    disabled.onLinkChange(true, clock.now());
    EXPECT_EQ(disabled.tick(clock.now()), Session::kNever);
    EXPECT_FALSE(disabled.send("X", Session::kPlain, 1, error));
    EXPECT_EQ(error, "MobiFlight disabled");
    EXPECT_FALSE(disabled.sendNow("X", error, clock.now()));
    EXPECT_EQ(error, "MobiFlight disabled");
    EXPECT_FALSE(disabled.connected());
    EXPECT_EQ(attempts(), 1);
}

}  // namespace
