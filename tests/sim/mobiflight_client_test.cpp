#include <gtest/gtest.h>

#include <atomic>

#include <chrono>
#include <cstring>
#include <thread>

#include "fakes/mobiflight_fixture.h"
#include "sim/simconnect_api.h"

using namespace std::chrono;

namespace {

const std::string kSet = "MF.SimVars.Set.1 ";
const std::string kDummy = "MF.DummyCmd";
const std::string kRegister = "MF.Clients.Add.CorvaneHID";
const std::string kRegistered = "MF.Clients.Add.CorvaneHID.Finished";
const std::string kAddBacklight = "MF.SimVars.Add.(L:LIGHTING_POTENTIOMETER_5)";

std::vector<std::uint8_t> textBytes(const std::string& text) {
    std::vector<std::uint8_t> bytes(text.begin(), text.end());
    bytes.push_back(0);
    return bytes;
}

std::vector<std::uint8_t> noise(std::size_t size, unsigned seed) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>((seed + i * 131) % 251 + 1);  // never zero
    return bytes;
}

TEST_F(MobiFlightTest, DisabledClientStartsNothingAndRefusesCommands) {
    MobiFlightSettings settings;
    settings.enabled = false;
    sim.setSimulatorRunning(true);
    start(settings);
    ASSERT_TRUE(waitFor([&] { return simConnect.isConnected(); }));
    std::string error;
    EXPECT_FALSE(mobiflight.send("1 (>K:AP_MASTER)", MobiFlightClient::kPlain, 1, error));
    EXPECT_EQ(error, "MobiFlight disabled");
    EXPECT_FALSE(mobiflight.sendNow("1 (>K:AP_MASTER)", error));
    EXPECT_EQ(error, "MobiFlight disabled");
    EXPECT_TRUE(commands().empty());
    EXPECT_FALSE(mobiflight.isReady());
}

TEST_F(MobiFlightTest, FailureTextsComeInTheirOrder) {
    std::string error;
    EXPECT_FALSE(mobiflight.send("X", MobiFlightClient::kPlain, 1, error));
    EXPECT_EQ(error, "MobiFlight not running");
    EXPECT_FALSE(mobiflight.sendNow("X", error));
    EXPECT_EQ(error, "MobiFlight not running");

    sim.setRegistrationReply(SimEmulator::RegistrationReply::None);
    start();
    EXPECT_FALSE(mobiflight.send("", MobiFlightClient::kPlain, 1, error));
    EXPECT_EQ(error, "Empty RPN command");
    EXPECT_TRUE(mobiflight.send("X", MobiFlightClient::kEncoder, 0, error));  // nothing to do
    EXPECT_FALSE(mobiflight.sendNow("X", error));
    EXPECT_EQ(error, "SimConnect is not connected");
    std::string again;
    EXPECT_FALSE(mobiflight.start(simConnect, MobiFlightSettings{}, again));
    EXPECT_EQ(again, "MobiFlight client already running");

    sim.setSimulatorRunning(true);
    ASSERT_TRUE(waitForCommand(kRegister));
    EXPECT_FALSE(mobiflight.sendNow("X", error));
    EXPECT_EQ(error, "MobiFlight not ready");
    EXPECT_FALSE(mobiflight.sendNow("", error));
    EXPECT_EQ(error, "MobiFlight not ready");
}

// The default channel belongs to MobiFlight's own program: it carries only
// the registration; everything else goes to the client's own channel.
TEST_F(MobiFlightTest, RegistersThenWorksOnlyOnItsOwnChannel) {
    startReady();
    // Tries may repeat before the answer is read (this clock runs ahead).
    const auto registration = commandsOn("MobiFlight.Command");
    ASSERT_GE(registration.size(), 3u);
    for (std::size_t i = 0; i < registration.size(); ++i)
        EXPECT_EQ(registration[i], (std::vector<std::string>{kDummy, "MF.Ping", kRegister}[i % 3]));
    EXPECT_EQ(ownCommands(), (std::vector<std::string>{kDummy, "MF.SimVars.Clear", kAddBacklight}));
    EXPECT_EQ(log.count("MobiFlight client registered"), 1);
    EXPECT_EQ(sim.moduleVariables("CorvaneHID"),
              std::vector<std::string>{"(L:LIGHTING_POTENTIOMETER_5)"});
    EXPECT_TRUE(sim.moduleVariables("MobiFlight").empty());
    // The value 0 changes no byte of the values area: only the read once tells it.
    ASSERT_TRUE(waitFor([&] { return !lvarTexts().empty(); }));
    EXPECT_EQ(lvarTexts(), std::vector<std::string>{"0.000000"});

    // A repeated ".Finished" changes nothing.
    sim.writeClientData("MobiFlight.Response", 0, textBytes("x"));
    sim.writeClientData("MobiFlight.Response", 0, textBytes(kRegistered));
    std::string error;
    ASSERT_TRUE(mobiflight.send("1", MobiFlightClient::kPlain, 1, error));
    ASSERT_TRUE(mobiflight.sendNow("2", error)) << error;
    ASSERT_TRUE(waitForCommand(kSet + "1"));
    EXPECT_EQ(countCommand("MF.SimVars.Clear"), 1);
    EXPECT_EQ(log.count("MobiFlight client registered"), 1);
    EXPECT_EQ(commandsOn("MobiFlight.Command"), registration);
    EXPECT_EQ(ownCommands().size(), 7u);
}

// A restart while the simulator and the module keep running: whatever the
// response area holds from before, the registration completes, and the
// reused record's old variables are cleared.
TEST_F(MobiFlightTest, RegistrationCompletesWhateverTheResponseAreaHolds) {
    startReady();
    const std::vector<std::pair<std::string, std::function<void()>>> before{
        {"an earlier pong", [&] { sim.moduleRespond("MF.Pong"); }},
        {"an earlier finish", [&] { sim.moduleRespond(kRegistered); }},
        {"bytes without a zero",
         [&] { sim.writeClientData("MobiFlight.Response", 0, noise(1024, 7)); }},
        {"another client's finish", [&] { sim.moduleRespond("MF.Clients.Add.Other.Finished"); }},
    };
    for (const auto& [what, prepare] : before) {
        mobiflight.stop();
        simConnect.stop();
        sim.setLVar("X", 1.0f);
        sim.writeClientData("CorvaneHID.Command", 0, textBytes("MF.SimVars.Add.(L:X)"));
        prepare();
        const std::size_t registered = log.count("MobiFlight client registered");
        start();
        ASSERT_TRUE(waitFor([&] { return mobiflight.isReady(); })) << what;
        EXPECT_EQ(log.count("MobiFlight client registered"), registered + 1) << what;
        EXPECT_EQ(sim.moduleVariables("CorvaneHID"),
                  std::vector<std::string>{"(L:LIGHTING_POTENTIOMETER_5)"})
            << what;
    }
}

TEST_F(MobiFlightTest, RpnCommandsWaitForRegistrationAndEachIsFollowedByADummy) {
    sim.setRegistrationReply(SimEmulator::RegistrationReply::None);
    sim.setSimulatorRunning(true);
    start();
    ASSERT_TRUE(waitForCommand(kRegister, 2));
    std::string error;
    ASSERT_TRUE(mobiflight.send("1 (>K:AP_MASTER)", MobiFlightClient::kPlain, 1, error));
    ASSERT_TRUE(mobiflight.send("2 (>K:AP_MASTER)", MobiFlightClient::kPlain, 1, error));
    ASSERT_TRUE(waitFor([&] { return clock.waitsOfAtLeast(milliseconds(50)).size() >= 10; }));
    EXPECT_TRUE(ownCommands().empty());

    sim.setRegistrationReply(SimEmulator::RegistrationReply::Finished);
    ASSERT_TRUE(waitFor([&] { return ownCommands().size() >= 7; }));
    // Held commands keep their order (they are put back at the front).
    EXPECT_EQ(ownCommands(), (std::vector<std::string>{kDummy, "MF.SimVars.Clear", kAddBacklight,
                                                       kSet + "1 (>K:AP_MASTER)", kDummy,
                                                       kSet + "2 (>K:AP_MASTER)", kDummy}));
}

// The module stays silent (missing, or too old to know registrations): the
// client keeps trying at a bounded pace, warns once, and says when it answers.
TEST_F(MobiFlightTest, SilenceIsWarnedOnceWhileTheRegistrationKeepsBeingTried) {
    sim.setRegistrationReply(SimEmulator::RegistrationReply::None);
    sim.setSimulatorRunning(true);
    start();
    ASSERT_TRUE(log.waitFor("MobiFlight module silent for 10 s"));
    ASSERT_TRUE(waitForCommand(kRegister, 12));
    EXPECT_EQ(log.count("MobiFlight module silent for 10 s; check that the MobiFlight WASM module "
                        "is installed"),
              1);
    for (const auto d : clock.waitsOfAtLeast(milliseconds(100)))
        EXPECT_LE(d, std::chrono::seconds(5));
    sim.setRegistrationReply(SimEmulator::RegistrationReply::Finished);
    ASSERT_TRUE(waitFor([&] { return mobiflight.isReady(); }));
    ASSERT_TRUE(log.waitFor("MobiFlight module answered after "));
    EXPECT_EQ(log.messages("WARN").size(), 1u);
}

TEST_F(MobiFlightTest, CommandsWaitWhileDisconnectedAndAreDroppedAtTheNextConnection) {
    start();
    std::string error;
    ASSERT_TRUE(mobiflight.send("1 (>K:STALE)", MobiFlightClient::kPlain, 1, error));
    ASSERT_TRUE(mobiflight.send("HOLD", MobiFlightClient::kHold, 1, error));
    ASSERT_TRUE(waitFor([&] { return clock.waitsOfAtLeast(milliseconds(100)).size() >= 6; }));
    for (const auto d : clock.waitsOfAtLeast(milliseconds(1)))
        EXPECT_EQ(d, milliseconds(100));

    sim.setSimulatorRunning(true);
    ASSERT_TRUE(waitFor([&] { return mobiflight.isReady(); }));
    ASSERT_TRUE(mobiflight.send("1 (>K:FRESH)", MobiFlightClient::kPlain, 1, error));
    ASSERT_TRUE(waitForCommand(kSet + "1 (>K:FRESH)"));
    EXPECT_EQ(countCommand(kSet + "1 (>K:STALE)"), 0);
    EXPECT_EQ(countCommand(kSet + "HOLD"), 0);

    // A lost link empties the queue again, and the next link registers anew.
    sim.setRegistrationReply(SimEmulator::RegistrationReply::None);
    sim.breakConnections();
    ASSERT_TRUE(log.waitFor("MobiFlight client waiting for SimConnect"));
    ASSERT_TRUE(waitFor([&] { return sim.connectionCount() == 2 && simConnect.isConnected(); }));
    ASSERT_TRUE(mobiflight.send("1 (>K:LATE)", MobiFlightClient::kPlain, 1, error));
    ASSERT_TRUE(waitForCommand(kRegister, 2));
    EXPECT_FALSE(mobiflight.isReady());
    EXPECT_EQ(countCommand(kSet + "1 (>K:LATE)"), 0);
}

// A command sent while a new link's channels are being set up is taken by
// the worker and held until the registration finishes; the registration
// must still go out first.
TEST_F(MobiFlightTest, ACommandWaitingForRegistrationDoesNotHoldBackTheRegistration) {
    startReady();
    std::atomic<bool> armed{false};
    sim.setClientDataCallHook([&](const std::string& function) {
        if (function != "SimConnect_MapClientDataNameToID" || !armed.exchange(false)) return;
        const std::size_t before = clock.waitsOfAtLeast(milliseconds(50)).size();
        std::string error;
        ASSERT_TRUE(mobiflight.send("1 (>K:EARLY)", MobiFlightClient::kPlain, 1, error));
        // The worker has the command and waits for the registration.
        ASSERT_TRUE(
            waitFor([&] { return clock.waitsOfAtLeast(milliseconds(50)).size() > before; }));
    });
    armed = true;
    sim.breakConnections();
    ASSERT_TRUE(waitForCommand(kRegister, 2));
    ASSERT_TRUE(waitFor([&] { return mobiflight.isReady(); }));
    ASSERT_TRUE(waitForCommand(kSet + "1 (>K:EARLY)"));
    sim.setClientDataCallHook({});
}

// The module only sees a command whose bytes differ from the last one. A
// link that broke right after the registration must not leave the next
// registration unseen (and the client unregistered for good).
TEST_F(MobiFlightTest, RegistrationIsSeenAgainAfterALinkThatGotNoFurther) {
    sim.setRegistrationReply(SimEmulator::RegistrationReply::None);
    sim.setSimulatorRunning(true);
    start();
    ASSERT_TRUE(waitForCommand(kRegister));
    sim.setRegistrationReply(SimEmulator::RegistrationReply::Finished);
    sim.breakConnections();
    ASSERT_TRUE(waitFor([&] { return mobiflight.isReady(); }));
}

TEST_F(MobiFlightTest, AnswersForOthersAndBadBytesLeaveItUnregistered) {
    sim.setRegistrationReply(SimEmulator::RegistrationReply::None);
    sim.setSimulatorRunning(true);
    start();
    ASSERT_TRUE(waitForCommand(kRegister));
    sim.writeClientData("MobiFlight.Response", 0, textBytes("MF.Clients.Add.Other.Finished"));
    sim.writeClientData("MobiFlight.Response", 0, textBytes(kRegister + "X.Finished"));
    sim.writeClientData("MobiFlight.Response", 0, noise(1024, 3));
    // Text after the zero is not part of the answer.
    std::vector<std::uint8_t> bytes = textBytes("MF.Pong");
    bytes.insert(bytes.end(), kRegistered.begin(), kRegistered.end());
    sim.writeClientData("MobiFlight.Response", 0, bytes);
    sim.writeClientData("MobiFlight.Response", 0, textBytes("x"));
    ASSERT_TRUE(waitForCommand(kRegister, 3));  // the worker went on after all of them
    EXPECT_FALSE(mobiflight.isReady());
    EXPECT_FALSE(log.contains("MobiFlight client registered"));
    sim.setRegistrationReply(SimEmulator::RegistrationReply::Finished);
    ASSERT_TRUE(waitFor([&] { return mobiflight.isReady(); }));
    EXPECT_EQ(log.count("MobiFlight client registered"), 1);
}

TEST_F(MobiFlightTest, EncoderStepsSentWhileTheFirstIsInFlightGiveExactlySixWrites) {
    startReady();
    const std::string text = kSet + "(>K:HEADING_BUG_INC)";
    std::atomic<bool> added{false};
    sim.setTraceSink([&](const std::string& line) {
        // Runs inside the first write of the command: add 1 and 3 more steps.
        if (line == "command " + text && !added.exchange(true)) {
            std::string error;
            EXPECT_TRUE(
                mobiflight.send("(>K:HEADING_BUG_INC)", MobiFlightClient::kEncoder, 1, error));
            EXPECT_TRUE(
                mobiflight.send("(>K:HEADING_BUG_INC)", MobiFlightClient::kEncoder, 3, error));
        }
    });
    std::string error;
    ASSERT_TRUE(mobiflight.send("(>K:HEADING_BUG_INC)", MobiFlightClient::kEncoder, 2, error));
    ASSERT_TRUE(waitForCommand(text, 6));
    ASSERT_TRUE(mobiflight.send("MARK", MobiFlightClient::kPlain, 1, error));
    ASSERT_TRUE(waitForCommand(kSet + "MARK"));
    sim.setTraceSink({});
    EXPECT_EQ(countCommand(text), 6);
    const auto all = commands();
    for (std::size_t i = 0; i + 1 < all.size(); ++i) {
        if (all[i] == text) {
            EXPECT_EQ(all[i + 1], kDummy) << i;
        }
    }
}

// While a write stalls, presses and encoder steps pile up only to their
// bounds: the oldest presses give way, extra steps are dropped, and each
// bound is warned once.
TEST_F(MobiFlightTest, QueuedPressesAndEncoderBacklogStopAtTheirBounds) {
    startReady();
    const int presses = static_cast<int>(MobiFlightClient::kMaxQueuedPresses) + 44;
    const std::int32_t backlog = MobiFlightClient::kMaxEncoderBacklog;
    std::atomic<bool> added{false};
    sim.setTraceSink([&](const std::string& line) {
        if (line != "command " + kSet + "FIRST" || added.exchange(true)) return;
        std::string error;
        EXPECT_TRUE(mobiflight.send("ENC", MobiFlightClient::kEncoder, backlog - 10, error));
        EXPECT_TRUE(mobiflight.send("ENC", MobiFlightClient::kEncoder, 200, error));
        EXPECT_TRUE(mobiflight.send("ENC", MobiFlightClient::kEncoder, 200, error));
        for (int i = 0; i < presses; ++i)
            EXPECT_TRUE(
                mobiflight.send("P" + std::to_string(i), MobiFlightClient::kPlain, 1, error));
    });
    std::string error;
    ASSERT_TRUE(mobiflight.send("FIRST", MobiFlightClient::kPlain, 1, error));
    ASSERT_TRUE(waitForCommand(kSet + "P" + std::to_string(presses - 1)));
    sim.setTraceSink({});
    EXPECT_EQ(countCommand(kSet + "ENC"), backlog);
    EXPECT_EQ(countCommand(kSet + "P43"), 0);
    EXPECT_EQ(countCommand(kSet + "P44"), 1);
    EXPECT_EQ(log.messages("WARN"),
              (std::vector<std::string>{
                  "MobiFlight encoder steps pile up for ENC: more than 512 waiting; the extra "
                  "steps are dropped",
                  "MobiFlight commands wait faster than they are written: more than 256 queued; "
                  "the oldest are dropped"}));
}

TEST_F(MobiFlightTest, HoldIsQueuedOnceAndAgainOnlyAfterTheWorkerTookIt) {
    sim.setRegistrationReply(SimEmulator::RegistrationReply::None);
    sim.setSimulatorRunning(true);
    start();
    ASSERT_TRUE(waitForCommand(kRegister));
    std::string error;
    ASSERT_TRUE(mobiflight.send("(>K:MAP_LEFT)", MobiFlightClient::kHold, 1, error));
    ASSERT_TRUE(mobiflight.send("(>K:MAP_LEFT)", MobiFlightClient::kHold, 1, error));
    const std::string text = kSet + "(>K:MAP_LEFT)";
    std::atomic<bool> again{false};
    sim.setTraceSink([&](const std::string& line) {
        if (line == "command " + text && !again.exchange(true)) {
            std::string e;
            EXPECT_TRUE(mobiflight.send("(>K:MAP_LEFT)", MobiFlightClient::kHold, 1, e));
        }
    });
    sim.setRegistrationReply(SimEmulator::RegistrationReply::Finished);
    ASSERT_TRUE(waitForCommand(text, 2));
    ASSERT_TRUE(mobiflight.send("MARK", MobiFlightClient::kPlain, 1, error));
    ASSERT_TRUE(waitForCommand(kSet + "MARK"));
    sim.setTraceSink({});
    EXPECT_EQ(countCommand(text), 2);
}

TEST_F(MobiFlightTest, DropPendingCancelsQueuedWorkForThatCommandOnly) {
    sim.setRegistrationReply(SimEmulator::RegistrationReply::None);
    sim.setSimulatorRunning(true);
    start();
    ASSERT_TRUE(waitForCommand(kRegister));
    std::string error;
    ASSERT_TRUE(mobiflight.send("(>K:MAP_UP)", MobiFlightClient::kHold, 1, error));
    ASSERT_TRUE(mobiflight.send("(>K:MAP_UP)", MobiFlightClient::kEncoder, 4, error));
    ASSERT_TRUE(mobiflight.send("(>K:MAP_UP)", MobiFlightClient::kPlain, 1, error));
    ASSERT_TRUE(mobiflight.send("(>K:KEEP)", MobiFlightClient::kHold, 1, error));
    mobiflight.dropPending("(>K:MAP_UP)");
    mobiflight.dropPending("");
    sim.setRegistrationReply(SimEmulator::RegistrationReply::Finished);
    ASSERT_TRUE(waitForCommand(kSet + "(>K:KEEP)"));
    // A later hold of the dropped command is queued normally again.
    ASSERT_TRUE(mobiflight.send("(>K:MAP_UP)", MobiFlightClient::kHold, 1, error));
    ASSERT_TRUE(waitForCommand(kSet + "(>K:MAP_UP)"));
    EXPECT_EQ(countCommand(kSet + "(>K:MAP_UP)"), 1);
}

TEST_F(MobiFlightTest, CommandsUpTo1023BytesGoWholeAndLongerOnesAreCutWithAWarning) {
    startReady();
    std::string error;
    const std::string medium(600, 'M');
    ASSERT_TRUE(mobiflight.send(medium, MobiFlightClient::kPlain, 1, error));
    ASSERT_TRUE(waitForCommand(kSet + medium));
    const std::string exact(1023 - kSet.size(), 'B');
    ASSERT_TRUE(mobiflight.sendNow(exact, error)) << error;
    EXPECT_EQ(countCommand(kSet + exact), 1);
    EXPECT_FALSE(log.contains("MobiFlight command truncated"));

    const std::string rpn(1100, 'A');
    ASSERT_TRUE(mobiflight.send(rpn, MobiFlightClient::kPlain, 1, error));
    ASSERT_TRUE(waitForCommand((kSet + rpn).substr(0, 1023)));
    EXPECT_TRUE(log.waitFor("MobiFlight command truncated to 1024 bytes"));
    EXPECT_TRUE(log.contains("MobiFlight command: " + kSet + rpn));  // the debug line has it whole
    EXPECT_EQ(log.count("MobiFlight command truncated to 1024 bytes"), 1);
}

TEST_F(MobiFlightTest, ChannelSetUpFailureLeavesTheClientUnregistered) {
    sim.failCalls("SimConnect_AddToClientDataDefinition", simconnect::E_FAIL_RESULT, 1);
    sim.setSimulatorRunning(true);
    start();
    ASSERT_TRUE(log.waitFor(
        "MobiFlight channel initialization failed: SimConnect_AddToClientDataDefinition failed "
        "(0x80004005)"));
    EXPECT_TRUE(commands().empty());
    EXPECT_FALSE(mobiflight.isReady());
    // The next connection sets up again.
    sim.breakConnections();
    ASSERT_TRUE(waitFor([&] { return mobiflight.isReady(); }));
}

TEST_F(MobiFlightTest, WriteFailuresAreLoggedAndNotRetried) {
    startReady();
    sim.failCalls("SimConnect_SetClientData", simconnect::E_INVALIDARG_RESULT, 3);
    std::string error;
    for (const char* lost : {"1 (>K:LOST)", "2 (>K:LOST)", "3 (>K:LOST)"}) {
        ASSERT_TRUE(mobiflight.send(lost, MobiFlightClient::kPlain, 1, error));
    }
    // Written once; the repeats are only counted.
    ASSERT_TRUE(
        log.waitFor("MobiFlight send failed: SimConnect_SetClientData failed (0x80070057)"));
    ASSERT_TRUE(mobiflight.send("1 (>K:NEXT)", MobiFlightClient::kPlain, 1, error));
    ASSERT_TRUE(waitForCommand(kSet + "1 (>K:NEXT)"));
    // The worker is done only once the dummy after NEXT is written.
    ASSERT_TRUE(waitFor([&] {
        const auto all = commands();
        return all.size() >= 2 && all[all.size() - 2] == kSet + "1 (>K:NEXT)" &&
               all.back() == "MF.DummyCmd";
    }));
    EXPECT_EQ(countCommand(kSet + "1 (>K:LOST)"), 0);
    EXPECT_EQ(log.count("MobiFlight send failed: SimConnect_SetClientData failed (0x80070057)"), 1);
    EXPECT_TRUE(simConnect.isConnected());

    sim.failCalls("SimConnect_SetClientData", simconnect::E_FAIL_RESULT, 1);
    EXPECT_FALSE(mobiflight.sendNow("1 (>K:DIRECT)", error));
    EXPECT_EQ(error, "SimConnect_SetClientData failed (0x80004005)");
}

TEST_F(MobiFlightTest, RateLimitSpacesQueuedCommandsButNotEncoderStepsOrDirectSends) {
    MobiFlightSettings settings;
    settings.rpnRateLimitMs = 100;
    startReady(settings);
    std::string error;
    for (const char* rpn : {"A", "B", "C"}) {
        ASSERT_TRUE(mobiflight.send(rpn, MobiFlightClient::kPlain, 1, error));
    }
    ASSERT_TRUE(mobiflight.send("E", MobiFlightClient::kEncoder, 3, error));
    ASSERT_TRUE(waitForCommand(kSet + "E", 3));
    ASSERT_TRUE(mobiflight.sendNow("NOW", error)) << error;

    std::vector<Clock::TimePoint> plain, encoder;
    Clock::TimePoint direct{};
    for (const auto& command : sim.moduleCommands()) {
        if (command.text == kSet + "E")
            encoder.push_back(command.time);
        else if (command.text == kSet + "NOW")
            direct = command.time;
        else if (command.text.rfind(kSet, 0) == 0)
            plain.push_back(command.time);
    }
    ASSERT_EQ(plain.size(), 3u);
    ASSERT_EQ(encoder.size(), 3u);
    EXPECT_GE(plain[1] - plain[0], milliseconds(100));
    EXPECT_GE(plain[2] - plain[1], milliseconds(100));
    EXPECT_GE(encoder[0] - plain[2], milliseconds(100));
    EXPECT_EQ(encoder[2], encoder[0]);  // one entry's steps go out back to back
    EXPECT_EQ(direct, encoder[2]);      // never delayed
}

TEST_F(MobiFlightTest, StopWakesTheWorkerOutOfALongRateLimitWait) {
    MobiFlightClient real;  // the real clock
    MobiFlightSettings settings;
    settings.rpnRateLimitMs = 60000;
    std::string error;
    ASSERT_TRUE(real.start(simConnect, settings, error));
    ASSERT_TRUE(simConnect.start(
        "CorvaneHID", [&](bool c) { real.onSimConnectState(c); }, {}, error));
    sim.setSimulatorRunning(true);
    ASSERT_TRUE(waitFor([&] { return real.isReady(); }));
    ASSERT_TRUE(real.send("FIRST", MobiFlightClient::kPlain, 1, error));
    ASSERT_TRUE(waitForCommand(kSet + "FIRST"));
    ASSERT_TRUE(real.send("LATER", MobiFlightClient::kPlain, 1, error));  // a minute behind
    std::this_thread::sleep_for(milliseconds(50));
    const auto begin = steady_clock::now();
    real.stop();
    EXPECT_LT(steady_clock::now() - begin, milliseconds(1000));
    EXPECT_EQ(countCommand(kSet + "LATER"), 0);
    simConnect.stop();
}

TEST_F(MobiFlightTest, LVarValuesReachTheHandlerAsFloatsOrText) {
    startReady();
    ASSERT_TRUE(waitFor([&] { return lvarTexts().size() == 1; }));  // the value read once
    sim.setLVar("LIGHTING_POTENTIOMETER_5", 0.4f);
    ASSERT_TRUE(waitFor([&] { return lvarTexts().size() == 2; }));
    sim.pushLVarText("l:lighting_potentiometer_5 = 0.8;", "CorvaneHID.LVars");
    ASSERT_TRUE(waitFor([&] { return lvarTexts().size() == 3; }));
    EXPECT_EQ(lvarTexts(), (std::vector<std::string>{"0.000000", "0.400000",
                                                     "l:lighting_potentiometer_5 = 0.8;"}));
    EXPECT_TRUE(log.contains("MobiFlight LVars: 0.400000"));

    // Client data for a request id of no channel is ignored; so are values
    // on the default channel, which belong to another program.
    std::vector<std::uint8_t> stray(48, 0);
    const std::uint32_t header[4] = {48, 4, simconnect::SIMCONNECT_RECV_ID_CLIENT_DATA, 0x1234};
    std::memcpy(stray.data(), header, sizeof(header));
    sim.queueMessage(stray);
    sim.pushLVarText("9.5", "MobiFlight.LVars");
    sim.writeClientData("CorvaneHID.LVars", 0, noise(4096, 11));  // whatever: no crash
    sim.setLVar("LIGHTING_POTENTIOMETER_5", 0.5f);
    ASSERT_TRUE(waitFor([&] { return !lvarTexts().empty() && lvarTexts().back() == "0.500000"; }));
    for (const std::string& text : lvarTexts())
        EXPECT_NE(text, "9.5");
}

std::string decode(const std::vector<std::uint8_t>& bytes) {
    LVarPayload payload;
    return MobiFlightClient::decodeLVarPayload(bytes.data(),
                                               static_cast<std::uint32_t>(bytes.size()), payload)
               ? payload.shown()
               : "<none>";
}

std::vector<std::uint8_t> floatPayload(float value, std::size_t size = 4096) {
    std::vector<std::uint8_t> bytes(size, 0);
    std::memcpy(bytes.data(), &value, sizeof(value));
    return bytes;
}

TEST(LVarPayloadTest, FloatsAreDecodedEvenWhenTheirBytesLookLikeText) {
    EXPECT_EQ(decode(floatPayload(42.5f)), "42.500000");  // first byte zero
    EXPECT_EQ(decode(floatPayload(0.4f)), "0.400000");    // CD CC CC 3E
    EXPECT_EQ(decode(floatPayload(1.0f)), "1.000000");
    EXPECT_EQ(decode(floatPayload(0.0f)), "0.000000");
    EXPECT_EQ(decode(floatPayload(0.75f, 4)), "0.750000");
    // Printable bytes that are still a float: "AAAA" and "12" + 00 + 3F.
    EXPECT_EQ(decode({'A', 'A', 'A', 'A', 0, 0, 0, 0}), "12.078431");
    std::uint32_t bits = 0x3F003231;  // bytes 31 32 00 3F, about 0.50076
    std::vector<std::uint8_t> digits(8, 0);
    std::memcpy(digits.data(), &bits, 4);
    EXPECT_EQ(decode(digits), "0.500766");
    EXPECT_EQ(decode(floatPayload(std::numeric_limits<float>::quiet_NaN())), "<none>");
    EXPECT_EQ(decode(floatPayload(std::numeric_limits<float>::infinity())), "<none>");
    EXPECT_EQ(decode({0xCD, 0xCC}), "<none>");  // too short for a float
}

TEST(LVarPayloadTest, TextPayloadsStayText) {
    auto text = [](const std::string& s, std::size_t size = 64) {
        std::vector<std::uint8_t> bytes(size, 0);
        std::memcpy(bytes.data(), s.data(), std::min(s.size(), size));
        return bytes;
    };
    EXPECT_EQ(decode(text("l:lighting_potentiometer_5 = 0.8;")),
              "l:lighting_potentiometer_5 = 0.8;");
    EXPECT_EQ(decode(text("0.42")), "0.42");
    EXPECT_EQ(decode(text("0.5")), "0.5");
    EXPECT_EQ(decode(text("1")), "1");
    EXPECT_EQ(decode(text("a=1")), "a=1");
    EXPECT_EQ(decode(text("READY!")), "READY!");
    EXPECT_EQ(decode(text("0.42", 4)), "0.42");  // no terminator: all bytes
    EXPECT_EQ(decode(text("7", 2)), "7");
}

}  // namespace
