#include "mapping/mapping_engine.h"

#include <system_error>
#include <utility>
#include <vector>

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

MappingEngine::MappingEngine(Clock& clock) : clock_(clock) {}

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
    const std::size_t before = eventQueue_.size();
    std::deque<QueuedEvent> kept;
    for (QueuedEvent& queued : eventQueue_) {
        const HidProtocol::HidEvent& e = queued.event;
        const bool staleHold = queued.index == index && queued.boardId == boardId &&
                               e.controlId == event.controlId && e.type == 1 && e.value >= 2 &&
                               e.value <= 4;
        if (!staleHold) kept.push_back(std::move(queued));
    }
    eventQueue_.swap(kept);
    return eventQueue_.size() != before;
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
                                 const std::string& role, const std::string& command) {
    {
        std::lock_guard<std::mutex> guard(holdLock_);
        HoldEntry& entry = holdTable_[key];
        entry.controlName = controlName;
        entry.role = role;
        entry.command = command;
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
        const Clock::Duration period = holdPeriod();
        std::vector<std::pair<std::string, std::string>> batch;
        {
            std::unique_lock<std::mutex> lock(holdLock_);
            // Nothing held: nothing to pace, so sleep long (a registration wakes us).
            Clock::TimePoint wakeAt = clock_.now() + (holdTable_.empty() ? kIdleWait : period);
            for (const auto& item : holdTable_) {
                if (item.second.nextDue < wakeAt) wakeAt = item.second.nextDue;
            }
            const std::uint64_t generation = holdGeneration_;
            clock_.waitUntil(holdWake_, lock, wakeAt,
                             [&] { return !running_.load() || holdGeneration_ != generation; });
            if (!running_.load()) return;
            const Clock::TimePoint now = clock_.now();
            for (auto& item : holdTable_) {
                if (item.second.nextDue <= now) {
                    batch.emplace_back(item.first, item.second.command);
                    item.second.nextDue = now + period;
                }
            }
        }
        for (const auto& [key, command] : batch) {
            {
                // Released while the batch was being sent: skip it.
                std::lock_guard<std::mutex> guard(holdLock_);
                if (holdTable_.find(key) == holdTable_.end()) continue;
            }
            std::string error;
            if (!mobiFlight_->sendNow(command, error)) {
                logWarn("Managed map hold send failed: " + error);
            }
        }
    }
}
