#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

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
