// The adjustable clock: waits and sleeps end when advance() reaches their
// deadline, however long that is in real time, and only then.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <optional>
#include <thread>

#include "common/clock.h"

namespace {

using namespace std::chrono;

// Generous: a wait that missed an advance() would block for an hour.
constexpr auto kPrompt = seconds(10);

// Real-time wait until the earliest deadline waited for on the clock is
// `at` (or, when `orLater`, at least `at`): the wait is known to the clock,
// though perhaps not blocked yet, the moment an advance() must not miss.
void waitForDeadline(const AdjustableClock& clock, Clock::TimePoint at, bool orLater = false) {
    const auto limit = steady_clock::now() + kPrompt;
    for (;;) {
        const std::optional<Clock::TimePoint> next = clock.nextDeadline();
        if (next && (*next == at || (orLater && *next > at))) return;
        ASSERT_LT(steady_clock::now(), limit) << "nobody waits for that deadline";
        std::this_thread::yield();
    }
}

// A thread in clock.waitUntil until its deadline or finish().
class Waiter {
public:
    Waiter(Clock& clock, Clock::TimePoint deadline)
        : result_(std::async(std::launch::async, [this, &clock, deadline] {
              std::unique_lock<std::mutex> lock(mutex_);
              return clock.waitUntil(cv_, lock, deadline, [this] { return done_; });
          })) {}
    ~Waiter() {
        finish();
        if (result_.valid()) result_.wait();
    }

    void finish() {
        std::lock_guard<std::mutex> guard(mutex_);
        done_ = true;
        cv_.notify_all();
    }
    bool running() const { return result_.wait_for(seconds(0)) == std::future_status::timeout; }
    // What waitUntil returned, once it returns (at most kPrompt).
    std::optional<bool> result() {
        if (result_.wait_for(kPrompt) != std::future_status::ready) return std::nullopt;
        return result_.get();
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool done_ = false;  // guarded by mutex_
    std::future<bool> result_;
};

TEST(AdjustableClockTest, AdvanceEndsTheWaitsItReachesAndNoOther) {
    AdjustableClock clock;
    const Clock::TimePoint start = clock.now();
    Waiter forever(clock, Clock::TimePoint::max());
    waitForDeadline(clock, Clock::TimePoint::max());
    Waiter twoHours(clock, start + hours(2));
    waitForDeadline(clock, start + hours(2));

    clock.advance(hours(1));
    ASSERT_TRUE(clock.waitSettled(kPrompt));  // both saw the new time and wait again
    EXPECT_TRUE(twoHours.running());
    EXPECT_TRUE(forever.running());

    clock.advance(hours(1));
    EXPECT_EQ(twoHours.result(), false);  // its deadline came, its condition did not
    EXPECT_GE(clock.now() - start, hours(2));
    ASSERT_TRUE(forever.running());
    forever.finish();
    EXPECT_EQ(forever.result(), true);
    EXPECT_EQ(clock.nextDeadline(), std::nullopt);
}

TEST(AdjustableClockTest, AdvanceReachesAWaitAboutToBlock) {
    AdjustableClock clock;
    for (int round = 0; round < 200; ++round) {
        const Clock::TimePoint deadline = clock.now() + hours(1);
        Waiter waiter(clock, deadline);
        waitForDeadline(clock, deadline);
        clock.advance(hours(1));
        ASSERT_EQ(waiter.result(), false) << "round " << round;
    }
}

TEST(AdjustableClockTest, SleepIsCutShortByAdvance) {
    AdjustableClock clock;
    const Clock::TimePoint start = clock.now();
    std::future<Clock::TimePoint> woke = std::async(std::launch::async, [&clock] {
        clock.sleepFor(hours(2));
        return clock.now();
    });
    // Whatever fails, the sleep ends before `woke` waits for it.
    struct EndSleep {
        AdjustableClock& clock;
        ~EndSleep() { clock.advance(hours(24)); }
    } endSleep{clock};
    waitForDeadline(clock, start + hours(2), true);
    clock.advance(hours(1));
    ASSERT_TRUE(clock.waitSettled(kPrompt));  // seen, and still asleep
    EXPECT_EQ(woke.wait_for(seconds(0)), std::future_status::timeout);
    clock.advance(hours(1));
    ASSERT_EQ(woke.wait_for(kPrompt), std::future_status::ready);
    EXPECT_GE(woke.get() - start, hours(2));
}

}  // namespace
