#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>

#include "common/clock.h"
#include "log/repeat_limiter.h"

class SimLink;

// The held map controls: each held command is sent directly (not queued)
// once per period until its release, a new press, clear(), or the end of
// the panel opening it was held on (a panel that comes back under its old
// index does not resume a hold). A failing repeat is warned once, then
// summed up once a minute. Repeats are not counted in the latency summary:
// no report was read for them.
//
// Threads: one thread at a time (the engine's); no lock, no thread of its
// own. The link and the clock (for the warnings' minutes) must outlive it.
class HoldRepeater {
public:
    // Where a hold came from: the engine's key for (panel, control, role).
    struct Hold {
        std::string key;
        std::string controlName;
        std::string role;
        std::string command;
        std::string boardId;  // the panel holding the control
        std::int32_t index = -1;
        std::uint64_t connection = 0;  // that panel's opening; 0 when it is not open
    };

    explicit HoldRepeater(Clock& clock);

    // Where holds are sent and the period (below 1 ms: 10 ms).
    void configure(SimLink& link, std::int32_t periodMs);
    // Forgets every hold.
    void clear();

    // Registers or refreshes a hold: a repeated hold event updates the texts
    // but keeps the pace. The first repeat follows one period after `now`.
    // A hold of no known panel opening (connection 0) is not kept.
    void hold(const Hold& hold, Clock::TimePoint now);
    void cancel(const std::string& key);
    // The panel opening `connection` ended: its holds never see a release.
    void dropPanel(std::uint64_t connection);

    // Sends every hold due at `now`, schedules each one period later, and
    // returns the next due time (max() when nothing is held).
    Clock::TimePoint repeatDue(Clock::TimePoint now);
    Clock::TimePoint nextDue() const;
    bool empty() const { return table_.empty(); }
    RepeatLimiter& warnings() { return warnings_; }

    HoldRepeater(const HoldRepeater&) = delete;
    HoldRepeater& operator=(const HoldRepeater&) = delete;

private:
    struct Entry {
        Hold hold;
        Clock::TimePoint nextDue{};
    };

    SimLink* link_ = nullptr;
    Clock::Duration period_;
    RepeatLimiter warnings_;
    std::unordered_map<std::string, Entry> table_;
};
