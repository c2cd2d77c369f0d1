#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "common/clock.h"
#include "config/app_config.h"
#include "hid/hid_protocol.h"
#include "mapping/engine_events.h"
#include "mapping/engine_inbox.h"

class ButtonConfig;
class CompiledConfig;
class Engine;
class EventMap;
class PanelOutput;
class SimLink;

// Runs the Engine (engine.h) on the one engine thread: the I/O threads post
// typed events into its inbox (EngineInbox); the thread handles them in
// order, ticks the engine once none is waiting, and sleeps until the
// engine's next deadline.
//
// Threads: start/stop from the owner; post/submit from any thread (the HID
// reader and scan threads, the SimConnect pump). The engine thread alone
// touches the Engine, the link and the output. The configuration, the link
// and the output must outlive the run.
class MappingEngine {
public:
    // Events handled between two ticks at most, when events keep coming.
    static constexpr std::size_t kEventsPerTick = 16;

    explicit MappingEngine(Clock& clock = Clock::system());
    ~MappingEngine();

    // Compiles the configuration, starts the engine thread.
    bool start(const AppConfig& config, const ButtonConfig& buttonConfig, const EventMap& eventMap,
               SimLink& link, PanelOutput& output, std::string& error);
    // Idempotent. Events still in the inbox are discarded; the event being
    // handled when stop begins is finished.
    void stop();
    bool isRunning() const { return running_.load(); }

    // Hands an event to the engine thread; dropped while not running.
    void post(EngineEvent event);
    // A panel's input, right after its report was read and decoded (its
    // read time is taken here). Never waits on the engine or the link.
    void submit(const HidProtocol::HidEvent& event, const std::string& boardId, std::int32_t index);

    MappingEngine(const MappingEngine&) = delete;
    MappingEngine& operator=(const MappingEngine&) = delete;

private:
    void run();

    Clock& clock_;
    EngineInbox inbox_;
    std::unique_ptr<CompiledConfig> compiled_;  // set by start(), kept until the next
    std::unique_ptr<Engine> engine_;            // engine thread only while running
    std::atomic<bool> running_{false};
    std::thread thread_;
};
