#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "fakes/mobiflight_fixture.h"

namespace {

const std::string kSet = "MF.SimVars.Set.1 ";

// Several threads send plain, hold and encoder commands while the link
// drops and comes back. What the module records must show, per connection:
//  - every RPN write directly followed by "MF.DummyCmd" (unless the link
//    died right after it);
//  - no plain command twice (each plain text is sent once, so a duplicate
//    means a command was replayed);
//  - per encoder text, never more writes than steps sent overall (a larger
//    count is a duplicated step);
// and, in phases where the link stays up from the first send until the
// queue drains, exactly one write per encoder step and per plain command
// sent in that phase (nothing lost), and between one and the number sent
// for each hold text.
class MobiFlightStressTest : public MobiFlightTest {
protected:
    static constexpr int kThreads = 4;
    static constexpr int kSendsPerThread = 150;

    struct Sent {
        std::mutex mutex;
        std::map<std::string, int> encoderSteps;  // RPN text -> steps
        std::map<std::string, int> holds;         // RPN text -> sends
        std::set<std::string> plain;
    };

    void sendBurst(int phase, Sent& sent) {
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([this, phase, t, &sent] {
                std::mt19937 random(static_cast<unsigned>(phase * 100 + t));
                for (int i = 0; i < kSendsPerThread; ++i) {
                    sendOne(random, phase, t, i, sent);
                    if (i % 16 == 0) std::this_thread::yield();
                }
            });
        }
        for (auto& thread : threads)
            thread.join();
    }

    void sendOne(std::mt19937& random, int phase, int t, int i, Sent& sent) {
        std::string error;
        const int pick = static_cast<int>(random() % 3);
        if (pick == 0) {
            const std::string rpn =
                "P" + std::to_string(phase) + "_" + std::to_string(t) + "_" + std::to_string(i);
            ASSERT_TRUE(mobiflight.send(rpn, MobiFlightClient::kPlain, 1, error)) << error;
            std::lock_guard<std::mutex> guard(sent.mutex);
            sent.plain.insert(kSet + rpn);
        } else if (pick == 1) {
            const std::string rpn = "H" + std::to_string(random() % 3);
            ASSERT_TRUE(mobiflight.send(rpn, MobiFlightClient::kHold, 1, error)) << error;
            std::lock_guard<std::mutex> guard(sent.mutex);
            ++sent.holds[kSet + rpn];
        } else {
            const std::string rpn = "E" + std::to_string(random() % 3);
            const int amount = 1 + static_cast<int>(random() % 3);
            ASSERT_TRUE(mobiflight.send(rpn, MobiFlightClient::kEncoder, amount, error)) << error;
            std::lock_guard<std::mutex> guard(sent.mutex);
            sent.encoderSteps[kSet + rpn] += amount;
        }
    }

    // Counts from the registration on: a write that was under way when the
    // previous link broke may still land just before it.
    std::map<std::string, int> countsIn(int connection) const {
        std::map<std::string, int> counts;
        bool registered = false;
        for (const auto& command : sim.moduleCommands()) {
            if (command.connection != connection) continue;
            registered = registered || command.text.rfind("MF.Clients.Add.", 0) == 0;
            if (registered) ++counts[command.text];
        }
        return counts;
    }

    // A fresh link: the queue is emptied and the client registers again.
    void reconnect() {
        const int before = sim.connectionCount();
        sim.breakConnections();
        ASSERT_TRUE(
            waitFor([&] { return sim.connectionCount() > before && mobiflight.isReady(); }));
    }

    bool drained(int connection, Sent& sent) {
        const auto counts = countsIn(connection);
        std::lock_guard<std::mutex> guard(sent.mutex);
        for (const auto& [text, steps] : sent.encoderSteps) {
            const auto it = counts.find(text);
            if (it == counts.end() || it->second < steps) return false;
        }
        for (const auto& text : sent.plain) {
            if (counts.count(text) == 0) return false;
        }
        return true;
    }

    void checkWholeRecord(const std::map<std::string, int>& encoderStepsSent) {
        const auto all = sim.moduleCommands();
        std::set<std::string> plainSeen;
        std::map<int, std::map<std::string, int>> encoderWrites;
        for (std::size_t i = 0; i < all.size(); ++i) {
            const std::string& text = all[i].text;
            if (text.rfind(kSet, 0) != 0) continue;
            if (i + 1 < all.size() && all[i + 1].connection == all[i].connection) {
                EXPECT_EQ(all[i + 1].text, "MF.DummyCmd") << "after " << text;
            }
            if (text.rfind(kSet + "P", 0) == 0) {
                EXPECT_TRUE(plainSeen.insert(text).second) << "replayed: " << text;
            } else if (text.rfind(kSet + "E", 0) == 0) {
                ++encoderWrites[all[i].connection][text];
            }
        }
        for (const auto& [connection, writes] : encoderWrites) {
            for (const auto& [text, count] : writes) {
                EXPECT_LE(count, encoderStepsSent.at(text))
                    << text << " on connection " << connection;
            }
        }
    }
};

TEST_F(MobiFlightStressTest, EncoderStepsAreNeverLostOrDuplicatedWithinAConnection) {
    startReady();
    std::map<std::string, int> allEncoderSteps;
    for (int phase = 0; phase < 6; ++phase) {
        const bool stable = phase % 2 == 0;
        if (stable && phase > 0) reconnect();
        ASSERT_TRUE(waitFor([&] { return mobiflight.isReady(); })) << "phase " << phase;
        const int connection = sim.connectionCount();
        Sent sent;
        if (stable) {
            sendBurst(phase, sent);
            ASSERT_TRUE(waitFor([&] { return drained(connection, sent); })) << "phase " << phase;
            ASSERT_EQ(sim.connectionCount(), connection);
            const auto counts = countsIn(connection);
            for (const auto& [text, steps] : sent.encoderSteps)
                EXPECT_EQ(counts.at(text), steps) << text;
            for (const auto& text : sent.plain)
                EXPECT_EQ(counts.at(text), 1) << text;
            for (const auto& [text, sends] : sent.holds) {
                EXPECT_GE(counts.at(text), 1) << text;
                EXPECT_LE(counts.at(text), sends) << text;
            }
        } else {
            // The link breaks twice while the senders run.
            std::thread breaker([&] {
                for (int i = 0; i < 2; ++i) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(3));
                    sim.breakConnections();
                    waitFor([&] { return simConnect.isConnected(); });
                }
            });
            sendBurst(phase, sent);
            breaker.join();
        }
        for (const auto& [text, steps] : sent.encoderSteps)
            allEncoderSteps[text] += steps;
    }
    mobiflight.stop();
    checkWholeRecord(allEncoderSteps);
    EXPECT_GE(sim.connectionCount(), 3);
}

}  // namespace
