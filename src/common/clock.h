#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

// The one source of time for every worker that sleeps, times out or paces
// itself. Production code uses Clock::system(); tests substitute a clock
// whose time they control so that second-long waits take milliseconds.
//
// Thread safety: every operation may be called from any thread.
class Clock {
public:
    using Duration = std::chrono::steady_clock::duration;
    using TimePoint = std::chrono::steady_clock::time_point;

    virtual ~Clock() = default;

    virtual TimePoint now() const = 0;

    // Blocks the calling thread for d of this clock's time.
    virtual void sleepFor(Duration d) = 0;

    // Waits on cv (lock must be held) until pred() is true or the clock
    // reaches deadline. Returns pred(). Spurious wake-ups are absorbed.
    virtual bool waitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                           TimePoint deadline, const std::function<bool()>& pred) = 0;

    bool waitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, Duration d,
                 const std::function<bool()>& pred) {
        return waitUntil(cv, lock, now() + d, pred);
    }

    // The steady clock of the machine, real sleeps and real timed waits.
    static Clock& system();
};

// The machine's steady time plus an offset that only grows: advance() moves
// the time of everything that runs on this clock forward at once, without
// waiting, while it goes on running in real time otherwise. The sandbox runs
// the program on one, so that a script need not sleep for a debounce, a
// rescan or a retry to come due.
//
// Every wait and sleep on this clock is known to it while it blocks: advance()
// wakes each one to compare its deadline with the new time (a wait that is
// about to block is not missed: advance() notifies a wait's condition
// variable only while holding the wait's mutex, so the wait either has not
// read the time yet or already blocks). waitSettled() tells a driver of the
// clock when what came due has run.
//
// Threads: every operation from any thread. A deadline of TimePoint::max()
// is never reached and never overflows (real waits are cut into hours).
// advance() locks each blocked waiter's mutex for a moment (trying, without
// holding anything of its own, so it never deadlocks with a waiter): its
// caller must not hold a mutex that a thread waits with on this clock, or it
// would try until that thread's wait ends; nor may waitSettled()'s. The
// clock must outlive every wait.
class AdjustableClock final : public Clock {
public:
    AdjustableClock() = default;
    AdjustableClock(const AdjustableClock&) = delete;
    AdjustableClock& operator=(const AdjustableClock&) = delete;

    TimePoint now() const override;
    // Sleeps until now() + d on this clock: cut short when advance() reaches it.
    void sleepFor(Duration d) override;
    // Waits in real time until deadline - offset, re-reading the offset after
    // every advance().
    bool waitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                   TimePoint deadline, const std::function<bool()>& pred) override;

    // Moves the time forward by d (nothing for d <= 0) and wakes every wait
    // and sleep blocked on this clock to re-check its deadline.
    void advance(Duration d);

    // The earliest deadline of the waits and sleeps blocked now; none when
    // nothing waits on this clock.
    std::optional<TimePoint> nextDeadline() const;

    // Real-time wait, at most `limit`, until the threads on this clock are
    // quiet: every wait and sleep has seen the last advance(), its deadline
    // lies ahead and (checked here, under the wait's mutex: a condition
    // must only read) its condition is false; and every thread that left a
    // wait since the last advance() waits on this clock again. A thread that
    // left a wait and then blocks elsewhere (a plain condition variable, I/O)
    // or ends holds this until `limit`. False when the limit came first.
    bool waitSettled(Duration limit);

private:
    // One blocked wait (cv set) or sleep (cv null), on its thread's stack.
    struct Wait {
        std::condition_variable* cv = nullptr;
        std::mutex* mutex = nullptr;  // the waiter's lock
        const std::function<bool()>* pred = nullptr;
        TimePoint deadline;
        std::uint64_t seen = 0;  // the epoch its real deadline was computed in
        int pins = 0;            // others using cv, mutex and pred outside mutex_
    };

    void enter(Wait& wait);
    void enterLocked(Wait& wait);
    void leave(Wait& wait, std::unique_lock<std::mutex>& lock);
    void leaveLocked(Wait& wait);
    // The real time the wait blocks until (at most an hour ahead); none
    // when its deadline has come. Marks the wait as having seen this epoch.
    std::optional<std::chrono::steady_clock::time_point> realDeadlineLocked(Wait& wait);
    std::vector<Wait*> pinWaitsLocked();
    void unpin(const std::vector<Wait*>& waits);
    bool settled();

    mutable std::mutex mutex_;
    std::atomic<Duration::rep> offset_{0};  // written under mutex_
    std::uint64_t epoch_ = 0;               // guarded by mutex_; one per advance()
    std::vector<Wait*> waits_;              // guarded by mutex_
    // Threads that left a wait since the last advance() and wait on nothing
    // of this clock now (guarded by mutex_).
    std::vector<std::thread::id> left_;
    std::condition_variable sleepers_;  // sleepFor blocks here, on mutex_
    std::condition_variable changed_;   // a wait entered or left, pins dropped
};
