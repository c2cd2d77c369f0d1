#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "common/clock.h"

// A clock for workers that wait on condition variables: time stands still
// except that every sleep and every timed wait that runs out moves it
// forward to its end. A timed wait first gives notifications one real
// millisecond to arrive, so stop() and queue wake-ups still work; only then
// does it jump to its deadline. Every sleep and timed wait is recorded with
// the duration asked for, so a worker's pacing (back-off, put-back waits,
// rate limits) is checked exactly while the test runs at full speed.
class StepClock final : public Clock {
public:
    TimePoint now() const override;
    void sleepFor(Duration d) override;
    bool waitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                   TimePoint deadline, const std::function<bool()>& pred) override;

    // Moves time forward by d, as another thread's wait running out would.
    void advance(Duration d);

    // Durations of every sleep and of every timed wait that had to wait.
    std::vector<Duration> waits() const;
    // Only those of at least `minimum`.
    std::vector<Duration> waitsOfAtLeast(Duration minimum) const;

private:
    void advanceTo(TimePoint t);
    void record(Duration d);

    mutable std::mutex mutex_;
    TimePoint now_ = TimePoint() + std::chrono::hours(1);
    std::vector<Duration> waits_;
};
