#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

#include "common/clock.h"
#include "common/mutex.h"
#include "hid/hid_protocol.h"

// One panel event, the panel that sent it, and when its report was read
// (epoch: unknown, e.g. an event a test made up).
struct PanelEvent {
    HidProtocol::HidEvent event;
    std::string boardId;
    std::int32_t index = -1;
    Clock::TimePoint readAt{};
};

// The engine's inbox: panel events in arrival order, from the HID reader
// threads to the one event worker. A release removes holds of the same
// control on the same panel that still wait here: they would act after it.
//
// Bounded: at most kMaxEvents wait. Beyond, the oldest event gives way to
// the new one (what the user does now matters more than what waited), with
// one WARN until the queue has been emptied again.
//
// Threads: push from any thread, pop from the event worker, open/close/clear
// from the engine's owner. One lock (lock_), held only for the queue's own
// work; nothing is called under it.
class EventQueue {
public:
    // Seconds of the fastest input several panels can send at once; the
    // worker keeps up with far more unless something holds it.
    static constexpr std::size_t kMaxEvents = 1024;

    // Accepts events again (a new run).
    void open() EXCLUDES(lock_);
    // Wakes pop(); from here on push() drops events and pop() returns false
    // once the queue is empty.
    void close() EXCLUDES(lock_);
    // Forgets the queued events.
    void clear() EXCLUDES(lock_);

    // Drops the event when closed; otherwise, removes stale holds (see
    // above), appends the event (dropping the oldest when full) and wakes
    // the worker.
    void push(PanelEvent item) EXCLUDES(lock_);
    // Waits for an event; false when closed and empty.
    bool pop(PanelEvent& item) EXCLUDES(lock_);

private:
    void dropPendingHoldsLocked(const PanelEvent& release) REQUIRES(lock_);

    Mutex lock_;
    std::condition_variable wake_;
    std::deque<PanelEvent> events_ GUARDED_BY(lock_);
    bool closed_ GUARDED_BY(lock_) = true;
    // An overflow was reported and the queue has not been empty since.
    bool overflowed_ GUARDED_BY(lock_) = false;
};
