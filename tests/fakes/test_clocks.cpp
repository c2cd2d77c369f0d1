#include "fakes/test_clocks.h"

#include <algorithm>
#include <thread>

using namespace std::chrono;

ManualClock::ManualClock(Mode mode)
    : step_(mode == Mode::Step), autoAdvance_(mode == Mode::AutoSleep) {}

Clock::TimePoint ManualClock::now() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return now_;
}

void ManualClock::recordWait(Duration d) {
    std::lock_guard<std::mutex> guard(mutex_);
    waits_.push_back(d);
}

void ManualClock::advanceTo(TimePoint t) {
    std::lock_guard<std::mutex> guard(mutex_);
    if (t > now_) now_ = t;
    moved_.notify_all();
}

void ManualClock::sleepFor(Duration d) {
    std::unique_lock<std::mutex> lock(mutex_);
    sleeps_.push_back(d);
    waits_.push_back(d);
    if (step_) {
        if (d > Duration::zero()) now_ += d;
        moved_.notify_all();
        lock.unlock();
        std::this_thread::yield();
        return;
    }
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
    return step_ ? stepWaitUntil(cv, lock, deadline, pred)
                 : pollWaitUntil(cv, lock, deadline, pred);
}

bool ManualClock::stepWaitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                                TimePoint deadline, const std::function<bool()>& pred) {
    if (pred()) return true;
    const TimePoint start = now();
    if (deadline <= start) return pred();
    recordWait(deadline - start);
    if (cv.wait_for(lock, milliseconds(1), pred)) return true;
    advanceTo(deadline);
    return pred();
}

bool ManualClock::pollWaitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                                TimePoint deadline, const std::function<bool()>& pred) {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        deadlines_.push_back(deadline);
    }
    bool result = true;
    while (!pred()) {
        if (now() >= deadline) {
            result = pred();
            break;
        }
        cv.wait_for(lock, milliseconds(1));
    }
    std::lock_guard<std::mutex> guard(mutex_);
    deadlines_.erase(std::find(deadlines_.begin(), deadlines_.end(), deadline));
    return result;
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

std::vector<Clock::Duration> ManualClock::waits() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return waits_;
}

std::vector<Clock::Duration> ManualClock::waitsOfAtLeast(Duration minimum) const {
    std::vector<Duration> result;
    for (const Duration d : waits()) {
        if (d >= minimum) result.push_back(d);
    }
    return result;
}

int ManualClock::sleepers() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return sleepers_;
}

bool ManualClock::poll(const std::function<bool()>& condition) const {
    const auto limit = steady_clock::now() + seconds(10);
    while (steady_clock::now() < limit) {
        {
            std::lock_guard<std::mutex> guard(mutex_);
            if (condition()) return true;
        }
        std::this_thread::sleep_for(microseconds(200));
    }
    return false;
}

bool ManualClock::waitSettled(int waiters) const {
    return poll([&] {
        return static_cast<int>(deadlines_.size()) == waiters &&
               std::all_of(deadlines_.begin(), deadlines_.end(),
                           [this](TimePoint t) { return t > now_; });
    });
}

bool ManualClock::waitForWaitUntil(TimePoint deadline) const {
    return poll([&] {
        return std::find(deadlines_.begin(), deadlines_.end(), deadline) != deadlines_.end();
    });
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
