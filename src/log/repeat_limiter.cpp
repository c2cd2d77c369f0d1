#include "log/repeat_limiter.h"

#include <algorithm>

RepeatLimiter::RepeatLimiter(Clock& clock, Clock::Duration period, std::size_t capacity)
    : clock_(clock), period_(period), capacity_(capacity < 1 ? 1 : capacity) {}

RepeatLimiter::~RepeatLimiter() {
    flush();
}

void RepeatLimiter::log(LogLevel level, const std::string& message) {
    record(level, message, nullptr, clock_.now());
}

void RepeatLimiter::log(LogLevel level, const std::string& message, const std::string& detail) {
    record(level, message, &detail, clock_.now());
}

void RepeatLimiter::record(LogLevel level, const std::string& message, const std::string* detail,
                           Clock::TimePoint now) {
    MutexLock guard(lock_);
    pollLocked(now);
    for (Entry& entry : entries_) {
        if (entry.level == level && entry.message == message) {
            ++entry.repeats;
            return;
        }
    }
    if (entries_.size() >= capacity_) evictOldestLocked();
    Logger::instance().log(level, detail ? message + ": " + *detail : message);
    entries_.push_back(Entry{level, message, now, 0});
}

void RepeatLimiter::poll() {
    poll(clock_.now());
}

void RepeatLimiter::poll(Clock::TimePoint now) {
    MutexLock guard(lock_);
    pollLocked(now);
}

Clock::TimePoint RepeatLimiter::nextDue() {
    MutexLock guard(lock_);
    Clock::TimePoint due = Clock::TimePoint::max();
    for (const Entry& entry : entries_)
        due = std::min(due, entry.since + period_);
    return due;
}

void RepeatLimiter::flush() {
    MutexLock guard(lock_);
    for (const Entry& entry : entries_) {
        if (entry.repeats > 0) summarize(entry);
    }
    entries_.clear();
}

void RepeatLimiter::pollLocked(Clock::TimePoint now) {
    for (auto it = entries_.begin(); it != entries_.end();) {
        if (now - it->since < period_) {
            ++it;
        } else if (it->repeats > 0) {
            summarize(*it);
            it->since = now;
            it->repeats = 0;
            ++it;
        } else {
            it = entries_.erase(it);
        }
    }
}

void RepeatLimiter::evictOldestLocked() {
    const auto oldest =
        std::min_element(entries_.begin(), entries_.end(),
                         [](const Entry& a, const Entry& b) { return a.since < b.since; });
    if (oldest == entries_.end()) return;
    if (oldest->repeats > 0) summarize(*oldest);
    entries_.erase(oldest);
}

void RepeatLimiter::summarize(const Entry& entry) {
    Logger::instance().log(
        entry.level, entry.message + " (repeated " + std::to_string(entry.repeats) + " times)");
}
