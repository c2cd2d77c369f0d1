#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "common/clock.h"

// A manual clock that also knows who waits on it: time moves only on
// advance(), and waitSettled() returns once the given number of threads are
// in a timed wait whose deadline still lies ahead. A test that advances
// time only when the workers have settled sees each timed wait end exactly
// at its deadline, however slowly the workers run. A worker that was
// notified may still sit in its old wait for a moment: after a notice, wait
// for the wait it leads to (waitForWaitUntil) before moving time.
class SettleClock final : public Clock {
public:
    TimePoint now() const override;
    void sleepFor(Duration d) override;
    bool waitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                   TimePoint deadline, const std::function<bool()>& pred) override;

    void advance(Duration d);
    // Real-time wait (at most 10 s) until `waiters` threads wait for a
    // deadline later than now.
    bool waitSettled(int waiters) const;
    // Real-time wait (at most 10 s) until a thread waits for `deadline`.
    bool waitForWaitUntil(TimePoint deadline) const;

private:
    bool poll(const std::function<bool()>& condition) const;  // under mutex_

    mutable std::mutex mutex_;
    std::condition_variable moved_;
    TimePoint now_ = TimePoint() + std::chrono::hours(1);
    std::vector<TimePoint> deadlines_;  // one per thread in waitUntil
};
