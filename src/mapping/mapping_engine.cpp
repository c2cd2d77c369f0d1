#include "mapping/mapping_engine.h"

#include <system_error>
#include <utility>

#include "config/compiled_config.h"
#include "mapping/engine.h"

MappingEngine::MappingEngine(Clock& clock) : clock_(clock), inbox_(clock) {}

MappingEngine::~MappingEngine() {
    stop();
}

bool MappingEngine::start(const AppConfig& config, const ButtonConfig& buttonConfig,
                          const EventMap& eventMap, SimLink& link, PanelOutput& output,
                          std::string& error) {
    if (running_.load()) {
        error = "Mapping engine already running";
        return false;
    }
    engine_.reset();
    compiled_ = std::make_unique<CompiledConfig>(config, buttonConfig, eventMap);
    engine_ = std::make_unique<Engine>(*compiled_, link, output, clock_);
    engine_->start(clock_.now());
    inbox_.clear();
    inbox_.open();
    running_.store(true);
    try {
        thread_ = std::thread(&MappingEngine::run, this);
    } catch (const std::system_error& e) {
        running_.store(false);
        inbox_.close();
        error = std::string("Failed to start mapping workers: ") + e.what();
        return false;
    }
    return true;
}

void MappingEngine::stop() {
    if (!running_.exchange(false)) return;
    inbox_.close();
    if (thread_.joinable()) thread_.join();
    inbox_.clear();
    engine_->stop();
}

void MappingEngine::post(EngineEvent event) {
    if (running_.load()) inbox_.post(std::move(event));
}

void MappingEngine::submit(const HidProtocol::HidEvent& event, const std::string& boardId,
                           std::int32_t index) {
    if (running_.load()) inbox_.post(PanelEvent{event, boardId, index, clock_.now(), 0});
}

// Events are handled as they come; the engine is ticked when its deadline
// comes and no event waits (after an event the deadline is now), and at
// the latest after kEventsPerTick events: a flood of input must not pile
// up commands faster than they are written.
void MappingEngine::run() {
    Clock::TimePoint deadline = engine_->tick(clock_.now());
    EngineEvent event;
    std::size_t handled = 0;
    for (;;) {
        switch (inbox_.wait(event, deadline)) {
            case EngineInbox::Wait::Closed:
                return;
            case EngineInbox::Wait::Event:
                deadline = engine_->handle(event, clock_.now());
                if (++handled < kEventsPerTick) break;
                [[fallthrough]];
            case EngineInbox::Wait::Deadline:
                deadline = engine_->tick(clock_.now());
                handled = 0;
                break;
        }
    }
}
