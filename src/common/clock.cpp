#include "common/clock.h"

#include <algorithm>
#include <thread>

namespace {

class SystemClock final : public Clock {
public:
    TimePoint now() const override { return std::chrono::steady_clock::now(); }

    void sleepFor(Duration d) override {
        if (d > Duration::zero()) std::this_thread::sleep_for(d);
    }

    bool waitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                   TimePoint deadline, const std::function<bool()>& pred) override {
        return cv.wait_until(lock, deadline, pred);
    }
};

}  // namespace

Clock& Clock::system() {
    static SystemClock clock;
    return clock;
}

namespace {

using SteadyTime = std::chrono::steady_clock::time_point;

// The longest real wait: a later deadline (TimePoint::max() even) is waited
// for in pieces.
constexpr auto kLongestRealWait = std::chrono::hours(1);
// How often waitSettled() looks again at conditions it cannot watch.
constexpr auto kSettlePoll = std::chrono::microseconds(200);

// Notifies each wait's condition variable under the wait's mutex, taking the
// mutexes in any order as they come free.
void notifyUnderTheirLocks(std::vector<std::condition_variable*> cvs,
                           std::vector<std::mutex*> mutexes) {
    while (!cvs.empty()) {
        for (std::size_t i = 0; i < cvs.size();) {
            if (!mutexes[i]->try_lock()) {
                ++i;
                continue;
            }
            cvs[i]->notify_all();
            mutexes[i]->unlock();
            cvs.erase(cvs.begin() + static_cast<std::ptrdiff_t>(i));
            mutexes.erase(mutexes.begin() + static_cast<std::ptrdiff_t>(i));
        }
        if (!cvs.empty()) std::this_thread::yield();
    }
}

}  // namespace

Clock::TimePoint AdjustableClock::now() const {
    return std::chrono::steady_clock::now() + Duration(offset_.load());
}

void AdjustableClock::enter(Wait& wait) {
    std::lock_guard<std::mutex> guard(mutex_);
    enterLocked(wait);
}

void AdjustableClock::enterLocked(Wait& wait) {
    wait.seen = epoch_;
    waits_.push_back(&wait);
    const auto self = std::find(left_.begin(), left_.end(), std::this_thread::get_id());
    if (self != left_.end()) left_.erase(self);
    changed_.notify_all();
}

// Before the wait's frame goes, nobody may still use its fields: a pinned
// wait gives its mutex up (advance() may need it) until the pins are gone.
void AdjustableClock::leave(Wait& wait, std::unique_lock<std::mutex>& lock) {
    std::unique_lock<std::mutex> guard(mutex_);
    if (wait.pins == 0) {
        leaveLocked(wait);
        return;
    }
    lock.unlock();
    changed_.wait(guard, [&wait] { return wait.pins == 0; });
    leaveLocked(wait);
    guard.unlock();
    lock.lock();
}

void AdjustableClock::leaveLocked(Wait& wait) {
    waits_.erase(std::find(waits_.begin(), waits_.end(), &wait));
    left_.push_back(std::this_thread::get_id());
    changed_.notify_all();
}

std::optional<SteadyTime> AdjustableClock::realDeadlineLocked(Wait& wait) {
    wait.seen = epoch_;
    const SteadyTime real = std::chrono::steady_clock::now();
    const TimePoint here = real + Duration(offset_.load());
    if (wait.deadline <= here) return std::nullopt;
    return real + std::min<Duration>(wait.deadline - here, kLongestRealWait);
}

void AdjustableClock::sleepFor(Duration d) {
    if (d <= Duration::zero()) return;
    std::unique_lock<std::mutex> guard(mutex_);
    const TimePoint start = now();
    Wait wait;
    wait.deadline = d < TimePoint::max() - start ? start + d : TimePoint::max();
    enterLocked(wait);
    while (const std::optional<SteadyTime> real = realDeadlineLocked(wait))
        sleepers_.wait_until(guard, *real);
    leaveLocked(wait);
}

bool AdjustableClock::waitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                                TimePoint deadline, const std::function<bool()>& pred) {
    if (pred()) return true;
    Wait wait;
    wait.cv = &cv;
    wait.mutex = lock.mutex();
    wait.pred = &pred;
    wait.deadline = deadline;
    enter(wait);
    // The time is read after the wait is known, with `lock` held: an
    // advance() from here on notifies cv only once this thread blocks.
    while (!pred()) {
        std::optional<SteadyTime> real;
        {
            std::lock_guard<std::mutex> guard(mutex_);
            real = realDeadlineLocked(wait);
        }
        if (!real) break;
        cv.wait_until(lock, *real);
    }
    leave(wait, lock);
    return pred();
}

std::vector<AdjustableClock::Wait*> AdjustableClock::pinWaitsLocked() {
    std::vector<Wait*> pinned;
    for (Wait* wait : waits_) {
        if (!wait->cv) continue;
        ++wait->pins;
        pinned.push_back(wait);
    }
    return pinned;
}

void AdjustableClock::unpin(const std::vector<Wait*>& waits) {
    std::lock_guard<std::mutex> guard(mutex_);
    for (Wait* wait : waits)
        --wait->pins;
    changed_.notify_all();
}

void AdjustableClock::advance(Duration d) {
    if (d <= Duration::zero()) return;
    std::vector<Wait*> pinned;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        offset_.store(offset_.load() + d.count());
        ++epoch_;
        left_.clear();
        pinned = pinWaitsLocked();
        sleepers_.notify_all();
    }
    std::vector<std::condition_variable*> cvs;
    std::vector<std::mutex*> mutexes;
    for (Wait* wait : pinned) {
        cvs.push_back(wait->cv);
        mutexes.push_back(wait->mutex);
    }
    notifyUnderTheirLocks(std::move(cvs), std::move(mutexes));
    unpin(pinned);
}

std::optional<Clock::TimePoint> AdjustableClock::nextDeadline() const {
    std::lock_guard<std::mutex> guard(mutex_);
    std::optional<TimePoint> next;
    for (const Wait* wait : waits_) {
        if (!next || wait->deadline < *next) next = wait->deadline;
    }
    return next;
}

// One look: every wait blocked, on a deadline ahead, with a false condition.
bool AdjustableClock::settled() {
    std::vector<Wait*> pinned;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        if (!left_.empty()) return false;
        const TimePoint here = now();
        for (const Wait* wait : waits_) {
            if (wait->seen != epoch_ || wait->deadline <= here) return false;
        }
        pinned = pinWaitsLocked();
    }
    bool quiet = true;
    for (Wait* wait : pinned) {
        // A mutex held elsewhere: its waiter is not blocked yet, or someone
        // works on what it waits for.
        quiet = wait->mutex->try_lock();
        if (!quiet) break;
        quiet = !(*wait->pred)();
        wait->mutex->unlock();
        if (!quiet) break;
    }
    unpin(pinned);
    return quiet;
}

bool AdjustableClock::waitSettled(Duration limit) {
    const SteadyTime end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (settled()) return true;
        const SteadyTime real = std::chrono::steady_clock::now();
        if (real >= end) return false;
        std::unique_lock<std::mutex> guard(mutex_);
        changed_.wait_until(guard, std::min<SteadyTime>(end, real + kSettlePoll));
    }
}
