#include "log/repeat_limiter.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "fakes/log_capture.h"
#include "fakes/test_clocks.h"

namespace {

using std::chrono::seconds;
using Lines = std::vector<std::string>;

TEST(RepeatLimiter, FirstLineThenOneSummaryAMinuteUntilItStops) {
    LogCapture log;
    ManualClock clock;
    RepeatLimiter limiter(clock);
    for (int i = 0; i < 100; ++i)
        limiter.warn("Failed to open HID device: /dev/a");
    clock.advance(seconds(59));
    limiter.warn("Failed to open HID device: /dev/a");
    EXPECT_EQ(log.messages("WARN"), Lines{"Failed to open HID device: /dev/a"});

    clock.advance(seconds(1));
    limiter.warn("Failed to open HID device: /dev/a");  // counted for the next minute
    clock.advance(seconds(30));
    limiter.poll();
    EXPECT_EQ(log.messages("WARN"),
              (Lines{"Failed to open HID device: /dev/a",
                     "Failed to open HID device: /dev/a (repeated 100 times)"}));
    // It stopped: the last count is written once its minute is over, then
    // the text is forgotten and written in full when it comes back.
    clock.advance(seconds(30));
    limiter.poll();
    clock.advance(seconds(60));
    limiter.poll();
    limiter.warn("Failed to open HID device: /dev/a");
    EXPECT_EQ(log.messages("WARN"), (Lines{"Failed to open HID device: /dev/a",
                                           "Failed to open HID device: /dev/a (repeated 100 times)",
                                           "Failed to open HID device: /dev/a (repeated 1 times)",
                                           "Failed to open HID device: /dev/a"}));
}

TEST(RepeatLimiter, TextsAndLevelsCountApartAndMemoryIsBounded) {
    LogCapture log;
    ManualClock clock;
    {
        RepeatLimiter limiter(clock, RepeatLimiter::kDefaultPeriod, 2);
        limiter.warn("a");
        limiter.warn("a");
        limiter.log(LogLevel::Error, "a");
        clock.advance(seconds(1));
        limiter.warn("b");  // pushes out the oldest, the WARN "a", after its summary
        limiter.warn("b");
    }  // the end writes what is still counted
    EXPECT_EQ(log.messages(),
              (Lines{"a", "a", "a (repeated 1 times)", "b", "b (repeated 1 times)"}));
    EXPECT_EQ(log.messages("ERROR"), Lines{"a"});
}

TEST(RepeatLimiter, ConcurrentRepeatsAreCountedExactly) {
    LogCapture log;
    ManualClock clock;
    {
        RepeatLimiter limiter(clock);
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([&] {
                for (int i = 0; i < 1000; ++i)
                    limiter.warn("flood");
            });
        }
        for (auto& thread : threads)
            thread.join();
    }
    EXPECT_EQ(log.messages(), (Lines{"flood", "flood (repeated 3999 times)"}));
}

}  // namespace
