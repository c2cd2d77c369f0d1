#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/clock.h"
#include "common/mutex.h"
#include "log/logger.h"

// Keeps a message that repeats from flooding the log. The first occurrence
// of a text is written as it is; later identical ones (same level, same
// text) are only counted, and while they go on one summary line a period
// (a minute) is written with the same level:
//
//   <text> (repeated <N> times)
//
// where N counts the occurrences since the text was last written. A text
// that did not occur for a whole period is forgotten: its next occurrence
// is written in full again.
//
// Summaries are written by log() and poll() once their period is over, and
// by flush() (also run by the destructor) at once. Owners call poll() from
// a loop that runs anyway, so the count of a flood that stopped still
// reaches the log.
//
// A message that quotes something changing (an outside payload, say) is
// given as a fixed message and a detail: repeats are judged on the message
// alone, the line written in full is "<message>: <detail>", and the
// summary names the message only.
//
// Memory is bounded: at most `capacity` texts are tracked; a new text
// pushes out the one tracked longest (its count is summarised first).
//
// Thread-safe; one mutex, held while writing to the Logger (which never
// calls back). The clock must outlive the limiter.
class RepeatLimiter {
public:
    static constexpr std::chrono::minutes kDefaultPeriod{1};
    static constexpr std::size_t kDefaultCapacity = 32;

    explicit RepeatLimiter(Clock& clock = Clock::system(), Clock::Duration period = kDefaultPeriod,
                           std::size_t capacity = kDefaultCapacity);
    ~RepeatLimiter();

    void log(LogLevel level, const std::string& message) EXCLUDES(lock_);
    void log(LogLevel level, const std::string& message, const std::string& detail) EXCLUDES(lock_);
    void warn(const std::string& message) EXCLUDES(lock_) { log(LogLevel::Warn, message); }
    void warn(const std::string& message, const std::string& detail) EXCLUDES(lock_) {
        log(LogLevel::Warn, message, detail);
    }
    void poll() EXCLUDES(lock_);
    // When poll() has something to do next (a summary, or forgetting a
    // text); max() when nothing is tracked. For owners that sleep until
    // their next deadline.
    Clock::TimePoint nextDue() EXCLUDES(lock_);
    void flush() EXCLUDES(lock_);

    // The same on the caller's time, for an owner that reads no clock of
    // its own: it makes only these calls, and the clock is never asked.
    void warn(const std::string& message, Clock::TimePoint now) EXCLUDES(lock_) {
        record(LogLevel::Warn, message, nullptr, now);
    }
    void poll(Clock::TimePoint now) EXCLUDES(lock_);

    RepeatLimiter(const RepeatLimiter&) = delete;
    RepeatLimiter& operator=(const RepeatLimiter&) = delete;

private:
    struct Entry {
        LogLevel level;
        std::string message;
        Clock::TimePoint since;  // when it was last written
        std::uint64_t repeats;   // occurrences since then
    };

    void record(LogLevel level, const std::string& message, const std::string* detail,
                Clock::TimePoint now) EXCLUDES(lock_);
    void pollLocked(Clock::TimePoint now) REQUIRES(lock_);
    void evictOldestLocked() REQUIRES(lock_);
    static void summarize(const Entry& entry);

    Clock& clock_;
    const Clock::Duration period_;
    const std::size_t capacity_;
    Mutex lock_;
    std::vector<Entry> entries_ GUARDED_BY(lock_);  // small, searched linearly
};
