#include "settle_clock.h"

#include <algorithm>
#include <thread>

using namespace std::chrono;

Clock::TimePoint SettleClock::now() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return now_;
}

void SettleClock::sleepFor(Duration d) {
    std::unique_lock<std::mutex> lock(mutex_);
    const TimePoint wake = now_ + d;
    moved_.wait(lock, [&] { return now_ >= wake; });
}

bool SettleClock::waitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
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

void SettleClock::advance(Duration d) {
    std::lock_guard<std::mutex> guard(mutex_);
    now_ += d;
    moved_.notify_all();
}

bool SettleClock::poll(const std::function<bool()>& condition) const {
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

bool SettleClock::waitSettled(int waiters) const {
    return poll([&] {
        return static_cast<int>(deadlines_.size()) == waiters &&
               std::all_of(deadlines_.begin(), deadlines_.end(),
                           [this](TimePoint t) { return t > now_; });
    });
}

bool SettleClock::waitForWaitUntil(TimePoint deadline) const {
    return poll([&] {
        return std::find(deadlines_.begin(), deadlines_.end(), deadline) != deadlines_.end();
    });
}
