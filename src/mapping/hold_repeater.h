#pragma once

#include <condition_variable>
#include <cstdint>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "common/clock.h"
#include "common/mutex.h"
#include "log/repeat_limiter.h"

class HidManager;
class LatencySummary;
class SimLink;

// The held map controls: each held command is sent directly (not queued)
// once per period until its release, a new press, stop(), or the end of the
// panel opening it was held on (a panel that comes back under its old index
// does not resume a hold). A failing repeat is warned once, then summed up
// once a minute. Its worker, awake at least once a second, also writes the
// engine's latency summary when a minute is over. Repeats are not counted
// in that summary: no report was read for them.
//
// Threads: start/stop from the engine's owner; hold/cancel from the event
// worker; the repeat worker of its own. One lock (lock_); the HID manager,
// the link and the latency summary are called without it. The referenced
// objects must outlive the run.
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
    };

    // `latency` (may be null) must outlive the repeater.
    explicit HoldRepeater(Clock& clock, LatencySummary* latency = nullptr);
    ~HoldRepeater();

    // Where holds are sent, which panels are open (`hid` may be null: no
    // panel checks), and the period (below 1 ms: 10 ms). Without start(),
    // repeatDue() alone sends the repeats (tests on manual time).
    void configure(SimLink& link, HidManager* hid, std::int32_t periodMs);
    // configure(), then the repeat worker.
    bool start(SimLink& link, HidManager* hid, std::int32_t periodMs, std::string& error);
    // Idempotent; forgets every hold.
    void stop();

    // Registers or refreshes a hold: a repeated hold event updates the texts
    // but keeps the pace. The first repeat follows one period later.
    void hold(const Hold& hold);
    void cancel(const std::string& key);

    // Sends every hold due now and schedules it one period later; the
    // worker's step, called directly by tests that run on manual time.
    void repeatDue();

    HoldRepeater(const HoldRepeater&) = delete;
    HoldRepeater& operator=(const HoldRepeater&) = delete;

private:
    struct Entry {
        Hold hold;
        std::uint64_t connection = 0;  // the panel's opening; 0 when it was not open
        Clock::TimePoint nextDue{};    // epoch: not scheduled yet
    };
    struct Due {
        std::string key;
        std::string command;
        std::string boardId;
        std::int32_t index;
        std::uint64_t connection;
    };

    void workerLoop();
    void waitForChangeOrDue() EXCLUDES(lock_);
    std::vector<Due> takeDue() EXCLUDES(lock_);
    void dropHoldsOfGonePanels(std::vector<Due>& batch) EXCLUDES(lock_);
    void send(const std::vector<Due>& batch) EXCLUDES(lock_);
    std::uint64_t panelConnection(const std::string& boardId, std::int32_t index) const
        EXCLUDES(lock_);

    Clock& clock_;
    SimLink* link_ = nullptr;
    HidManager* hid_ = nullptr;
    Clock::Duration period_;
    LatencySummary* latency_;
    RepeatLimiter warnings_;  // repeat worker only
    std::thread worker_;

    Mutex lock_;
    std::condition_variable wake_;
    bool running_ GUARDED_BY(lock_) = false;
    std::unordered_map<std::string, Entry> table_ GUARDED_BY(lock_);
    std::uint64_t generation_ GUARDED_BY(lock_) = 0;  // bumps on every change
};
