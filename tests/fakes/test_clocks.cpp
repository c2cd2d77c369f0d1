#include "fakes/test_clocks.h"

#include <thread>

using namespace std::chrono;

ManualClock::ManualClock(bool autoAdvance)
    : now_(TimePoint() + hours(1)), autoAdvance_(autoAdvance) {}

Clock::TimePoint ManualClock::now() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return now_;
}

void ManualClock::sleepFor(Duration d) {
    std::unique_lock<std::mutex> lock(mutex_);
    sleeps_.push_back(d);
    if (autoAdvance_) {
        if (d > Duration::zero()) now_ += d;
        moved_.notify_all();
        lock.unlock();
        // Give other threads a chance to run, as a real sleep would.
        std::this_thread::sleep_for(microseconds(200));
        return;
    }
    const TimePoint wake = now_ + d;
    ++sleepers_;
    moved_.wait(lock, [&] { return now_ >= wake || autoAdvance_; });
    --sleepers_;
}

bool ManualClock::waitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                            TimePoint deadline, const std::function<bool()>& pred) {
    while (!pred()) {
        if (now() >= deadline) return pred();
        cv.wait_for(lock, milliseconds(1));
    }
    return true;
}

void ManualClock::advance(Duration d) {
    std::lock_guard<std::mutex> guard(mutex_);
    now_ += d;
    moved_.notify_all();
}

void ManualClock::setAutoAdvance(bool on) {
    std::lock_guard<std::mutex> guard(mutex_);
    autoAdvance_ = on;
    moved_.notify_all();
}

std::vector<Clock::Duration> ManualClock::sleeps() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return sleeps_;
}

int ManualClock::sleepers() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return sleepers_;
}

ScaledClock::ScaledClock(double speedup)
    : speedup_(speedup), realOrigin_(steady_clock::now()), origin_(TimePoint() + hours(1)) {}

Clock::TimePoint ScaledClock::now() const {
    const auto real = steady_clock::now() - realOrigin_;
    return origin_ + duration_cast<Duration>(duration<double, std::nano>(real) * speedup_);
}

void ScaledClock::sleepFor(Duration d) {
    if (d <= Duration::zero()) return;
    std::this_thread::sleep_for(duration<double, std::nano>(d) / speedup_);
}

steady_clock::time_point ScaledClock::toReal(TimePoint t) const {
    const auto offset = duration<double, std::nano>(t - origin_) / speedup_;
    return realOrigin_ + duration_cast<steady_clock::duration>(offset);
}

bool ScaledClock::waitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                            TimePoint deadline, const std::function<bool()>& pred) {
    return cv.wait_until(lock, toReal(deadline), pred);
}
