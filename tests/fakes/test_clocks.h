#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "common/clock.h"

// A clock that only moves when told to.
//
// advance() moves time forward and releases every sleeper whose wake time
// has come. With autoAdvance set, sleepFor() moves time forward by itself
// instead of blocking, which turns a worker's long waits (back-off, pacing)
// into a recorded sequence that runs at full speed. Every sleepFor()
// duration is recorded either way. Timed waits poll the condition every
// real millisecond, so they see both notifications and advance().
class ManualClock final : public Clock {
public:
    explicit ManualClock(bool autoAdvance = false);

    TimePoint now() const override;
    void sleepFor(Duration d) override;
    bool waitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                   TimePoint deadline, const std::function<bool()>& pred) override;

    void advance(Duration d);
    void setAutoAdvance(bool on);

    // Durations passed to sleepFor(), in call order.
    std::vector<Duration> sleeps() const;
    // Number of threads blocked in sleepFor() right now.
    int sleepers() const;

private:
    mutable std::mutex mutex_;
    std::condition_variable moved_;
    TimePoint now_;
    bool autoAdvance_;
    std::vector<Duration> sleeps_;
    int sleepers_ = 0;
};

// A clock that runs `speedup` times faster than real time: a 5 s sleep takes
// 5 s / speedup of real time. For end-to-end runs with many workers whose
// timing must still relate correctly to each other.
class ScaledClock final : public Clock {
public:
    explicit ScaledClock(double speedup);

    TimePoint now() const override;
    void sleepFor(Duration d) override;
    bool waitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                   TimePoint deadline, const std::function<bool()>& pred) override;

private:
    std::chrono::steady_clock::time_point toReal(TimePoint t) const;

    double speedup_;
    std::chrono::steady_clock::time_point realOrigin_;
    TimePoint origin_;
};

// Milliseconds as a double, for readable assertions on clock durations.
inline double toMs(Clock::Duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}
