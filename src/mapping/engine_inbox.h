#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>

#include "common/clock.h"
#include "common/mutex.h"
#include "mapping/engine_events.h"

// The engine's inbox: every event the I/O threads post, in arrival order,
// taken by the one engine thread. A release removes holds of the same
// control on the same panel that still wait here: they would act after it.
//
// Detents of a knob whose earlier turn still waits add up in that event
// (same panel, control, direction, speed and mode; no panel, link or
// button event after it), as they would in the MobiFlight queue.
//
// Bounded: at most kMaxEvents wait. Beyond, the oldest panel input gives
// way to the new event (what the user does now matters more than what
// waited), with one WARN until the inbox has been emptied again. Panel,
// link and simulator-state events are never dropped: they are few, and the
// engine's state depends on each of them.
//
// Threads: post from any thread, wait from the engine thread, open/close/
// clear from the engine's owner. One lock (lock_), held only for the
// queue's own work; nothing is called under it but the overflow WARN's
// logger, after the lock is released.
class EngineInbox {
public:
    // Seconds of the fastest input several panels can send at once; the
    // engine keeps up with far more unless something holds it.
    static constexpr std::size_t kMaxEvents = 1024;

    enum class Wait { Event, Deadline, Closed };

    explicit EngineInbox(Clock& clock) : clock_(clock) {}

    // Accepts events again (a new run).
    void open() EXCLUDES(lock_);
    // Wakes the waiter; from here on post() drops events and wait() returns
    // Closed.
    void close() EXCLUDES(lock_);
    // Forgets the queued events.
    void clear() EXCLUDES(lock_);

    // Drops the event when closed; otherwise appends it (see above) and
    // wakes the engine thread.
    void post(EngineEvent event) EXCLUDES(lock_);
    // Takes the oldest event, waiting until one comes, `deadline` (of the
    // clock) or close().
    Wait wait(EngineEvent& event, Clock::TimePoint deadline) EXCLUDES(lock_);

private:
    void dropPendingHoldsLocked(const PanelEvent& release) REQUIRES(lock_);
    bool makeRoomLocked() REQUIRES(lock_);
    bool mergeTurnLocked(const PanelEvent& turn) REQUIRES(lock_);

    Clock& clock_;
    Mutex lock_;
    std::condition_variable wake_;
    std::deque<EngineEvent> events_ GUARDED_BY(lock_);
    bool closed_ GUARDED_BY(lock_) = true;
    // An overflow was reported and the inbox has not been empty since.
    bool overflowed_ GUARDED_BY(lock_) = false;
};
