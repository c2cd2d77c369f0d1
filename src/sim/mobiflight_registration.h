#pragma once

#include <chrono>

#include "common/clock.h"

// When the MobiFlight client tries its registration again and when it
// warns that the module stays silent, for one connection at a time.
//
// The module answers nothing when it is missing or still loading, and its
// answer may change no byte of the response area (and so bring no
// notification), so the client keeps trying: at once, then after 1, 2, 4
// and every 5 s until ".Finished" arrives. 10 s after the connection
// without an answer, one warning is due.
//
// Pure bookkeeping on the caller's times; not thread-safe (the MobiFlight
// client guards it with its queue lock).
class MobiFlightRegistration {
public:
    static constexpr Clock::Duration kFirstRetry = std::chrono::seconds(1);
    static constexpr Clock::Duration kMaxRetry = std::chrono::seconds(5);
    static constexpr Clock::Duration kSilenceWarning = std::chrono::seconds(10);

    // A new connection: the first attempt is due at once.
    void begin(Clock::TimePoint now);
    // The connection ended, or the registration completed.
    void end();
    bool active() const { return active_; }

    // True once per due attempt; schedules the next one.
    bool takeAttempt(Clock::TimePoint now);
    // True once per connection, kSilenceWarning after begin() without an answer.
    bool takeWarning(Clock::TimePoint now);
    // The module's ".Finished" arrived; takeAnswer() reports it once.
    void answered();
    bool takeAnswer();
    // Whether anything above would report true now.
    bool due(Clock::TimePoint now) const;
    // When something becomes due next; false when nothing ever will.
    bool nextWake(Clock::TimePoint& when) const;

    bool warned() const { return warned_; }
    Clock::Duration since(Clock::TimePoint now) const { return now - begun_; }

private:
    bool active_ = false;
    bool answered_ = false;
    bool warned_ = false;
    Clock::TimePoint begun_{};
    Clock::TimePoint nextAttempt_{};
    Clock::Duration interval_ = kFirstRetry;
};
