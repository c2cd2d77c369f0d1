#include "step_clock.h"

#include <thread>

StepClock::TimePoint StepClock::now() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return now_;
}

void StepClock::record(Duration d) {
    std::lock_guard<std::mutex> guard(mutex_);
    waits_.push_back(d);
}

void StepClock::advanceTo(TimePoint t) {
    std::lock_guard<std::mutex> guard(mutex_);
    if (t > now_) now_ = t;
}

void StepClock::advance(Duration d) {
    std::lock_guard<std::mutex> guard(mutex_);
    now_ += d;
}

void StepClock::sleepFor(Duration d) {
    record(d);
    advanceTo(now() + d);
    std::this_thread::yield();
}

bool StepClock::waitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                          TimePoint deadline, const std::function<bool()>& pred) {
    if (pred()) return true;
    const TimePoint start = now();
    if (deadline <= start) return pred();
    record(deadline - start);
    if (cv.wait_for(lock, std::chrono::milliseconds(1), pred)) return true;
    advanceTo(deadline);
    return pred();
}

std::vector<StepClock::Duration> StepClock::waits() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return waits_;
}

std::vector<StepClock::Duration> StepClock::waitsOfAtLeast(Duration minimum) const {
    std::vector<Duration> result;
    for (const Duration d : waits()) {
        if (d >= minimum) result.push_back(d);
    }
    return result;
}
