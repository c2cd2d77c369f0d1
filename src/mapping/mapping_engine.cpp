#include "mapping/mapping_engine.h"

#include <algorithm>
#include <system_error>
#include <utility>
#include <vector>

#include "hid/hid_manager.h"
#include "log/logger.h"
#include "sim/mobiflight_client.h"

namespace {

constexpr auto kDefaultHoldPeriod = std::chrono::milliseconds(10);
constexpr auto kIdleWait = std::chrono::seconds(1);

// Wakes a worker that waits on `cv` under `lock` without losing the wake-up:
// taking the lock orders this against the worker's predicate check.
void wake(std::mutex& lock, std::condition_variable& cv) {
    { std::lock_guard<std::mutex> guard(lock); }
    cv.notify_all();
}

}  // namespace

MappingEngine::MappingEngine(Clock& clock) : clock_(clock), holdWarnings_(clock) {}

MappingEngine::~MappingEngine() {
    stop();
}

bool MappingEngine::start(const AppConfig& config, HidManager& hid, SimConnectClient& simConnect,
                          MobiFlightClient& mobiFlight, const ButtonConfig& buttonConfig,
                          const EventMap& eventMap, SimState& simState, std::string& error) {
    if (running_.load()) {
        error = "Mapping engine already running";
        return false;
    }
    config_ = &config;
    hid_ = &hid;
    simConnect_ = &simConnect;
    mobiFlight_ = &mobiFlight;
    buttonConfig_ = &buttonConfig;
    eventMap_ = &eventMap;
    simState_ = &simState;
    running_.store(true);
    try {
        eventWorker_ = std::thread(&MappingEngine::eventWorkerLoop, this);
        holdWorker_ = std::thread(&MappingEngine::holdWorkerLoop, this);
        outputWorker_ = std::thread(&MappingEngine::outputWorkerLoop, this);
    } catch (const std::system_error& e) {
        running_.store(false);
        joinWorkers();
        error = std::string("Failed to start mapping workers: ") + e.what();
        return false;
    }
    return true;
}

void MappingEngine::stop() {
    if (!running_.exchange(false)) return;
    joinWorkers();
    {
        // A later start must not dispatch events that were meant for this run.
        std::lock_guard<std::mutex> guard(queueLock_);
        eventQueue_.clear();
    }
    std::lock_guard<std::mutex> guard(holdLock_);
    holdTable_.clear();
    ++holdGeneration_;
}

void MappingEngine::joinWorkers() {
    wake(queueLock_, queueWake_);
    wake(holdLock_, holdWake_);
    wake(outputLock_, outputWake_);
    for (std::thread* worker : {&eventWorker_, &holdWorker_, &outputWorker_}) {
        if (worker->joinable()) worker->join();
    }
}

void MappingEngine::submit(const HidProtocol::HidEvent& event, const std::string& boardId,
                           std::int32_t index) {
    if (!running_.load()) return;
    {
        std::lock_guard<std::mutex> guard(queueLock_);
        dropPendingHoldsLocked(event, boardId, index);
        eventQueue_.push_back(QueuedEvent{event, boardId, index});
    }
    queueWake_.notify_one();
}

// A hold still waiting in the queue when its release arrives is never
// dispatched: the release makes it stale.
bool MappingEngine::dropPendingHoldsLocked(const HidProtocol::HidEvent& event,
                                           const std::string& boardId, std::int32_t index) {
    if (event.type != 1 || event.value != 0) return false;
    const auto staleHold = [&](const QueuedEvent& queued) {
        const HidProtocol::HidEvent& e = queued.event;
        return queued.index == index && e.controlId == event.controlId && e.type == 1 &&
               e.value >= 2 && e.value <= 4 && queued.boardId == boardId;
    };
    const auto stale = std::remove_if(eventQueue_.begin(), eventQueue_.end(), staleHold);
    if (stale == eventQueue_.end()) return false;
    eventQueue_.erase(stale, eventQueue_.end());
    return true;
}

void MappingEngine::eventWorkerLoop() {
    for (;;) {
        std::unique_lock<std::mutex> lock(queueLock_);
        queueWake_.wait(lock, [this] { return !running_.load() || !eventQueue_.empty(); });
        if (eventQueue_.empty()) {
            if (!running_.load()) return;
            continue;
        }
        QueuedEvent queued = std::move(eventQueue_.front());
        eventQueue_.pop_front();
        lock.unlock();
        dispatch(queued);
        if (!running_.load()) return;
    }
}

Clock::Duration MappingEngine::holdPeriod() const {
    if (!config_ || config_->mobiflight.mapHoldRepeatMs < 1) return kDefaultHoldPeriod;
    return std::chrono::milliseconds(config_->mobiflight.mapHoldRepeatMs);
}

void MappingEngine::registerHold(const std::string& key, const std::string& controlName,
                                 const std::string& role, const std::string& command,
                                 const std::string& boardId, std::int32_t index) {
    const std::uint64_t connection = panelConnection(boardId, index);
    {
        std::lock_guard<std::mutex> guard(holdLock_);
        HoldEntry& entry = holdTable_[key];
        entry.controlName = controlName;
        entry.role = role;
        entry.command = command;
        entry.boardId = boardId;
        entry.index = index;
        entry.connection = connection;
        // A repeated hold event updates the texts but keeps the pace.
        if (entry.nextDue == Clock::TimePoint{}) entry.nextDue = clock_.now() + holdPeriod();
        ++holdGeneration_;
    }
    holdWake_.notify_all();
}

void MappingEngine::cancelHold(const std::string& key) {
    if (key.empty()) return;
    {
        std::lock_guard<std::mutex> guard(holdLock_);
        holdTable_.erase(key);
        ++holdGeneration_;
    }
    holdWake_.notify_all();
}

// Sends each held command when its time comes. Between sends the worker
// sleeps until the earliest due time (or a change of the table), rather
// than polling while a control is held.
void MappingEngine::holdWorkerLoop() {
    while (running_.load()) {
        std::vector<DueHold> batch = waitForDueHolds();
        if (!running_.load()) return;
        holdWarnings_.poll();
        dropHoldsOfGonePanels(batch);
        for (const DueHold& due : batch) {
            {
                // Released while the batch was being sent: skip it.
                std::lock_guard<std::mutex> guard(holdLock_);
                if (holdTable_.find(due.key) == holdTable_.end()) continue;
            }
            std::string error;
            if (!mobiFlight_->sendNow(due.command, error)) {
                holdWarnings_.warn("Managed map hold send failed: " + error);
            }
        }
    }
}

// One wait of the hold worker; returns the holds due now, each rescheduled
// one period later.
std::vector<MappingEngine::DueHold> MappingEngine::waitForDueHolds() {
    const Clock::Duration period = holdPeriod();
    std::vector<DueHold> batch;
    std::unique_lock<std::mutex> lock(holdLock_);
    // Nothing held: nothing to pace, so sleep long (a registration wakes us).
    Clock::TimePoint wakeAt = clock_.now() + (holdTable_.empty() ? kIdleWait : period);
    for (const auto& item : holdTable_) {
        if (item.second.nextDue < wakeAt) wakeAt = item.second.nextDue;
    }
    const std::uint64_t generation = holdGeneration_;
    clock_.waitUntil(holdWake_, lock, wakeAt,
                     [&] { return !running_.load() || holdGeneration_ != generation; });
    if (!running_.load()) return batch;
    const Clock::TimePoint now = clock_.now();
    for (auto& [key, entry] : holdTable_) {
        if (entry.nextDue > now) continue;
        batch.push_back(DueHold{key, entry.command, entry.boardId, entry.index, entry.connection});
        entry.nextDue = now + period;
    }
    return batch;
}

// The HID manager's opening of the panel that sent an event, 0 when it is
// not open (any more).
std::uint64_t MappingEngine::panelConnection(const std::string& boardId, std::int32_t index) const {
    if (!hid_) return 0;
    for (const HidDeviceInfo& device : hid_->listDevices()) {
        if (device.index == index && device.name == boardId) return device.connection;
    }
    return 0;
}

// A panel unplugged while a map control was held never sends the release,
// not even when it comes back (under its old index): without this its hold
// would pan the map until the program ends.
void MappingEngine::dropHoldsOfGonePanels(std::vector<DueHold>& batch) {
    if (batch.empty() || !hid_) return;
    const std::vector<HidDeviceInfo> open = hid_->listDevices();
    const auto isOpen = [&open](const DueHold& due) {
        return std::any_of(open.begin(), open.end(), [&due](const HidDeviceInfo& device) {
            return device.connection == due.connection && device.index == due.index &&
                   device.name == due.boardId;
        });
    };
    const auto gone = std::stable_partition(batch.begin(), batch.end(), isOpen);
    if (gone == batch.end()) return;
    {
        std::lock_guard<std::mutex> guard(holdLock_);
        for (auto it = gone; it != batch.end(); ++it)
            holdTable_.erase(it->key);
        ++holdGeneration_;
    }
    batch.erase(gone, batch.end());
}
