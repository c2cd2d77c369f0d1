#include "mapping/engine_inbox.h"

#include <algorithm>
#include <string>
#include <utility>

#include "log/logger.h"

namespace {

// A deadline far off is waited for in steps of this: some clocks cannot
// wait for the end of time.
constexpr auto kLongestWait = std::chrono::hours(1);

// Within what one report may carry (the dispatcher sends at most 32 steps
// of one report).
constexpr int kMaxMergedDetents = 32;

const PanelEvent* panelInput(const EngineEvent& event) {
    return std::get_if<PanelEvent>(&event);
}

}  // namespace

void EngineInbox::open() {
    MutexLock guard(lock_);
    closed_ = false;
}

void EngineInbox::close() {
    {
        MutexLock guard(lock_);
        closed_ = true;
    }
    wake_.notify_all();
}

void EngineInbox::clear() {
    MutexLock guard(lock_);
    events_.clear();
    overflowed_ = false;
}

void EngineInbox::post(EngineEvent event) {
    bool firstOverflow = false;
    {
        MutexLock guard(lock_);
        if (closed_) return;
        if (const PanelEvent* input = panelInput(event)) {
            dropPendingHoldsLocked(*input);
            if (mergeTurnLocked(*input)) return;
        }
        if (events_.size() >= kMaxEvents) firstOverflow = makeRoomLocked();
        events_.push_back(std::move(event));
    }
    wake_.notify_one();
    if (firstOverflow) {
        logWarn("Panel events arrive faster than they are handled: more than " +
                std::to_string(kMaxEvents) + " waiting; the oldest are dropped");
    }
}

// Detents of a knob that is still waiting here add up in its waiting
// event (same panel, control, direction and speed), unless a panel,
// link or button event came after it: a flood of turns then waits as a
// few events, each sending its steps as before.
bool EngineInbox::mergeTurnLocked(const PanelEvent& turn) {
    const HidProtocol::HidEvent& e = turn.event;
    if (e.type != HidProtocol::kEventEncoder || e.value == 0) return false;
    for (auto it = events_.rbegin(); it != events_.rend(); ++it) {
        PanelEvent* waiting = std::get_if<PanelEvent>(&*it);
        if (!waiting || waiting->event.type != HidProtocol::kEventEncoder) return false;
        HidProtocol::HidEvent& w = waiting->event;
        if (waiting->index != turn.index || w.controlId != e.controlId || w.speed != e.speed ||
            w.mode != e.mode || (w.value > 0) != (e.value > 0) || waiting->boardId != turn.boardId)
            continue;
        const int sum = int{w.value} + int{e.value};
        if (sum > kMaxMergedDetents || sum < -kMaxMergedDetents) return false;
        w.value = static_cast<std::int8_t>(sum);
        return true;
    }
    return false;
}

// The oldest panel input goes; true when that begins an overflow.
bool EngineInbox::makeRoomLocked() {
    const auto oldest = std::find_if(events_.begin(), events_.end(),
                                     [](const EngineEvent& e) { return panelInput(e) != nullptr; });
    if (oldest == events_.end()) return false;
    events_.erase(oldest);
    const bool first = !overflowed_;
    overflowed_ = true;
    return first;
}

EngineInbox::Wait EngineInbox::wait(EngineEvent& event, Clock::TimePoint deadline) {
    MutexLock lock(lock_);
    const auto ready = [this]() REQUIRES(lock_) { return closed_ || !events_.empty(); };
    while (!ready()) {
        const Clock::TimePoint now = clock_.now();
        if (now >= deadline) return Wait::Deadline;
        const Clock::TimePoint until =
            deadline - now > kLongestWait ? now + kLongestWait : deadline;
        clock_.waitUntil(wake_, lock.native(), until, ready);
    }
    if (closed_) return Wait::Closed;
    event = std::move(events_.front());
    events_.pop_front();
    if (events_.empty()) overflowed_ = false;
    return Wait::Event;
}

// A hold still waiting in the inbox when its release arrives is never
// dispatched: the release makes it stale.
void EngineInbox::dropPendingHoldsLocked(const PanelEvent& release) {
    const HidProtocol::HidEvent& event = release.event;
    if (event.type != HidProtocol::kEventButton || event.value != HidProtocol::kButtonReleased)
        return;
    const auto staleHold = [&](const EngineEvent& queued) {
        const PanelEvent* input = panelInput(queued);
        if (!input) return false;
        const HidProtocol::HidEvent& e = input->event;
        return input->index == release.index && e.controlId == event.controlId &&
               e.type == HidProtocol::kEventButton && HidProtocol::isHeldValue(e.value) &&
               input->boardId == release.boardId;
    };
    events_.erase(std::remove_if(events_.begin(), events_.end(), staleHold), events_.end());
}
