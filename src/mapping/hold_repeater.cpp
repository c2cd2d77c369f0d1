#include "mapping/hold_repeater.h"

#include <algorithm>
#include <system_error>

#include "hid/hid_manager.h"
#include "mapping/latency_summary.h"
#include "mapping/sim_link.h"

namespace {

constexpr auto kDefaultPeriod = std::chrono::milliseconds(10);
constexpr auto kIdleWait = std::chrono::seconds(1);

}  // namespace

HoldRepeater::HoldRepeater(Clock& clock, LatencySummary* latency)
    : clock_(clock), period_(kDefaultPeriod), latency_(latency), warnings_(clock) {}

HoldRepeater::~HoldRepeater() {
    stop();
}

void HoldRepeater::configure(SimLink& link, HidManager* hid, std::int32_t periodMs) {
    link_ = &link;
    hid_ = hid;
    period_ = periodMs < 1 ? Clock::Duration(kDefaultPeriod)
                           : Clock::Duration(std::chrono::milliseconds(periodMs));
}

bool HoldRepeater::start(SimLink& link, HidManager* hid, std::int32_t periodMs,
                         std::string& error) {
    configure(link, hid, periodMs);
    {
        MutexLock guard(lock_);
        running_ = true;
    }
    try {
        worker_ = std::thread(&HoldRepeater::workerLoop, this);
    } catch (const std::system_error& e) {
        stop();
        error = std::string("Failed to start mapping workers: ") + e.what();
        return false;
    }
    return true;
}

void HoldRepeater::stop() {
    {
        MutexLock guard(lock_);
        running_ = false;
    }
    wake_.notify_all();
    if (worker_.joinable()) worker_.join();
    MutexLock guard(lock_);
    table_.clear();
    ++generation_;
}

void HoldRepeater::hold(const Hold& hold) {
    const std::uint64_t connection = panelConnection(hold.boardId, hold.index);
    {
        MutexLock guard(lock_);
        Entry& entry = table_[hold.key];
        entry.hold = hold;
        entry.connection = connection;
        if (entry.nextDue == Clock::TimePoint{}) entry.nextDue = clock_.now() + period_;
        ++generation_;
    }
    wake_.notify_all();
}

void HoldRepeater::cancel(const std::string& key) {
    if (key.empty()) return;
    {
        MutexLock guard(lock_);
        table_.erase(key);
        ++generation_;
    }
    wake_.notify_all();
}

// Sends each held command when its time comes. Between sends the worker
// sleeps until the earliest due time (or a change of the table), rather
// than polling while a control is held.
void HoldRepeater::workerLoop() {
    for (;;) {
        waitForChangeOrDue();
        {
            MutexLock guard(lock_);
            if (!running_) return;
        }
        repeatDue();
    }
}

void HoldRepeater::repeatDue() {
    std::vector<Due> batch = takeDue();
    warnings_.poll();
    if (latency_) latency_->poll();
    dropHoldsOfGonePanels(batch);
    send(batch);
}

// One wait of the worker: until the earliest due time, a change of the
// table or stop().
void HoldRepeater::waitForChangeOrDue() {
    MutexLock lock(lock_);
    // Nothing held: nothing to pace, so sleep long (a registration wakes us).
    Clock::TimePoint wakeAt = clock_.now() + (table_.empty() ? kIdleWait : period_);
    for (const auto& item : table_) {
        if (item.second.nextDue < wakeAt) wakeAt = item.second.nextDue;
    }
    const std::uint64_t generation = generation_;
    clock_.waitUntil(wake_, lock.native(), wakeAt,
                     [&]() REQUIRES(lock_) { return !running_ || generation_ != generation; });
}

// The holds due now, each rescheduled one period later.
std::vector<HoldRepeater::Due> HoldRepeater::takeDue() {
    std::vector<Due> batch;
    MutexLock guard(lock_);
    const Clock::TimePoint now = clock_.now();
    for (auto& [key, entry] : table_) {
        if (entry.nextDue > now) continue;
        batch.push_back(
            Due{key, entry.hold.command, entry.hold.boardId, entry.hold.index, entry.connection});
        entry.nextDue = now + period_;
    }
    return batch;
}

void HoldRepeater::send(const std::vector<Due>& batch) {
    for (const Due& due : batch) {
        {
            // Released while the batch was being sent: skip it.
            MutexLock guard(lock_);
            if (table_.find(due.key) == table_.end()) continue;
        }
        std::string error;
        if (!link_->sendNow(due.command, error)) {
            warnings_.warn("Managed map hold send failed: " + error);
        }
    }
}

// The HID manager's opening of the panel that sent an event, 0 when it is
// not open (any more).
std::uint64_t HoldRepeater::panelConnection(const std::string& boardId, std::int32_t index) const {
    if (!hid_) return 0;
    for (const HidDeviceInfo& device : hid_->listDevices()) {
        if (device.index == index && device.name == boardId) return device.connection;
    }
    return 0;
}

// A panel unplugged while a map control was held never sends the release,
// not even when it comes back (under its old index): without this its hold
// would pan the map until the program ends.
void HoldRepeater::dropHoldsOfGonePanels(std::vector<Due>& batch) {
    if (batch.empty() || !hid_) return;
    const std::vector<HidDeviceInfo> open = hid_->listDevices();
    const auto isOpen = [&open](const Due& due) {
        return std::any_of(open.begin(), open.end(), [&due](const HidDeviceInfo& device) {
            return device.connection == due.connection && device.index == due.index &&
                   device.name == due.boardId;
        });
    };
    const auto gone = std::stable_partition(batch.begin(), batch.end(), isOpen);
    if (gone == batch.end()) return;
    {
        MutexLock guard(lock_);
        for (auto it = gone; it != batch.end(); ++it)
            table_.erase(it->key);
        ++generation_;
    }
    batch.erase(gone, batch.end());
}
