#include "mapping/event_queue.h"

#include <algorithm>
#include <string>
#include <utility>

#include "log/logger.h"

void EventQueue::open() {
    MutexLock guard(lock_);
    closed_ = false;
}

void EventQueue::close() {
    {
        MutexLock guard(lock_);
        closed_ = true;
    }
    wake_.notify_all();
}

void EventQueue::clear() {
    MutexLock guard(lock_);
    events_.clear();
    overflowed_ = false;
}

void EventQueue::push(PanelEvent item) {
    bool firstOverflow = false;
    {
        MutexLock guard(lock_);
        if (closed_) return;
        dropPendingHoldsLocked(item);
        if (events_.size() >= kMaxEvents) {
            events_.pop_front();
            firstOverflow = !overflowed_;
            overflowed_ = true;
        }
        events_.push_back(std::move(item));
    }
    wake_.notify_one();
    if (firstOverflow) {
        logWarn("Panel events arrive faster than they are handled: more than " +
                std::to_string(kMaxEvents) + " waiting; the oldest are dropped");
    }
}

bool EventQueue::pop(PanelEvent& item) {
    MutexLock lock(lock_);
    wake_.wait(lock.native(), [this]() REQUIRES(lock_) { return closed_ || !events_.empty(); });
    if (events_.empty()) return false;
    item = std::move(events_.front());
    events_.pop_front();
    if (events_.empty()) overflowed_ = false;
    return true;
}

// A hold still waiting in the queue when its release arrives is never
// dispatched: the release makes it stale.
void EventQueue::dropPendingHoldsLocked(const PanelEvent& release) {
    const HidProtocol::HidEvent& event = release.event;
    if (event.type != HidProtocol::kEventButton || event.value != HidProtocol::kButtonReleased)
        return;
    const auto staleHold = [&](const PanelEvent& queued) {
        const HidProtocol::HidEvent& e = queued.event;
        return queued.index == release.index && e.controlId == event.controlId &&
               e.type == HidProtocol::kEventButton && HidProtocol::isHeldValue(e.value) &&
               queued.boardId == release.boardId;
    };
    events_.erase(std::remove_if(events_.begin(), events_.end(), staleHold), events_.end());
}
