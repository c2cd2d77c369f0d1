#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "common/clock.h"

// A clock whose time only moves when told to, in one of three modes:
//
// Manual (the default): time moves on advance() only. Sleeps block until
// time reaches their end; timed waits poll their condition every real
// millisecond, so they see both notifications and advance(). The clock
// knows who waits on it: waitSettled() returns once the given number of
// threads are in a timed wait whose deadline still lies ahead, so a test
// that advances time only when the workers have settled sees each timed
// wait end exactly at its deadline, however slowly the workers run. A
// worker that was notified may still sit in its old wait for a moment:
// after a notice, wait for the wait it leads to (waitForWaitUntil) before
// moving time.
//
// AutoSleep: as Manual, but sleepFor() moves time forward by itself instead
// of blocking, which turns a worker's long sleeps (back-off, pacing) into a
// recorded sequence that runs at full speed. setAutoAdvance() switches
// between Manual and AutoSleep.
//
// Step: for workers that wait on condition variables. Every sleep and every
// timed wait that runs out moves time forward to its end; a timed wait
// first gives notifications one real millisecond to arrive, so stop() and
// queue wake-ups still work, and only then jumps to its deadline.
//
// Every sleep is recorded (sleeps(), waits()), and in Step mode every timed
// wait that had to wait too (waits()), with the duration asked for, so a
// worker's pacing is checked exactly while the test runs at full speed.
class ManualClock final : public Clock {
public:
    enum class Mode { Manual, AutoSleep, Step };

    explicit ManualClock(Mode mode = Mode::Manual);

    TimePoint now() const override;
    void sleepFor(Duration d) override;
    bool waitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                   TimePoint deadline, const std::function<bool()>& pred) override;

    // Moves time forward by d and releases every sleeper whose time has come.
    void advance(Duration d);
    // AutoSleep (on) or Manual (off); releases blocked sleepers when on.
    void setAutoAdvance(bool on);

    // Durations passed to sleepFor(), in call order.
    std::vector<Duration> sleeps() const;
    // Durations of every sleep and (Step mode) of every timed wait that had
    // to wait.
    std::vector<Duration> waits() const;
    // Only those of at least `minimum`.
    std::vector<Duration> waitsOfAtLeast(Duration minimum) const;
    // Number of threads blocked in sleepFor() right now.
    int sleepers() const;

    // Real-time wait (at most 10 s) until `waiters` threads wait for a
    // deadline later than now (Manual and AutoSleep modes).
    bool waitSettled(int waiters) const;
    // Real-time wait (at most 10 s) until a thread waits for `deadline`.
    bool waitForWaitUntil(TimePoint deadline) const;

private:
    bool stepWaitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                       TimePoint deadline, const std::function<bool()>& pred);
    bool pollWaitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                       TimePoint deadline, const std::function<bool()>& pred);
    void advanceTo(TimePoint t);
    void recordWait(Duration d);
    bool poll(const std::function<bool()>& condition) const;  // condition under mutex_

    const bool step_;
    mutable std::mutex mutex_;
    std::condition_variable moved_;
    TimePoint now_ = TimePoint() + std::chrono::hours(1);  // guarded by mutex_
    bool autoAdvance_;                                     // guarded by mutex_
    std::vector<Duration> sleeps_;                         // guarded by mutex_
    std::vector<Duration> waits_;                          // guarded by mutex_
    int sleepers_ = 0;                                     // guarded by mutex_
    std::vector<TimePoint> deadlines_;  // guarded by mutex_; one per thread in a timed wait
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
