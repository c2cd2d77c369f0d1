#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <thread>

#include "common/clock.h"
#include "common/mutex.h"
#include "config/app_config.h"
#include "log/repeat_limiter.h"
#include "sim/lvar_payload.h"
#include "sim/mobiflight_registration.h"
#include "sim/simconnect_client.h"

// Talks to the MobiFlight WASM module through SimConnect client-data areas:
// registers the program as a module client, subscribes to the backlight
// L-variable, and runs RPN code for the mapping engine, queued (coalesced,
// rate-limited) on its own worker or directly on the caller's thread.
//
// Registration (on the module's default channels, the settings'
// commandChannel and responseChannel, which belong to MobiFlight's own
// program otherwise): each attempt subscribes to the response area again
// and writes "MF.DummyCmd", "MF.Ping", "MF.Clients.Add.<clientName>" (the
// ping changes the response area's bytes, so the answer that follows is
// always noticed, whatever the area held before). Attempts repeat (1, 2, 4,
// then every 5 s) until "…Finished" arrives; 10 s after the connection
// without it, one WARN. Then the client maps its own channels
// "<clientName>.Command", ".Response" and ".LVars", writes "MF.DummyCmd",
// "MF.SimVars.Clear" and "MF.SimVars.Add.(L:LIGHTING_POTENTIOMETER_5)"
// there, reads its values area once (the module reports a value only when
// it changes), and is ready. Every later command goes to its own channel;
// the default channel carries only the registration.
//
// Areas and ids: default command 0x1000, default response 0x1001 (request
// 0x1200); own command 0x1010, own response 0x1011 (request 0x1202), own
// L-variables 0x1012 (request 0x1201 on change, 0x1203 for the reads once);
// definitions: commands 0x1100 (1024 bytes), responses 0x1101 (1024),
// L-variables 0x1102 (4096).
//
// Queue: a hold command is queued at most once per text; encoder steps for
// one text add up in a single entry and are all written when it comes up;
// every RPN write is followed by "MF.DummyCmd" (the module only sees a
// command whose bytes differ from the previous one). Commands wait while
// the link is down or registration is pending, and are dropped at every
// connection change and at stop. Bounds, each reported by one WARN until
// the queue (or the encoder's entry) has drained: at most
// kMaxQueuedPresses plain commands wait (beyond, the oldest is dropped),
// and one encoder text holds at most kMaxEncoderBacklog steps (beyond,
// more steps are not added).
//
// Threads: start/stop from the owner; send/sendNow/dropPending/isReady from
// the mapping engine's threads; onSimConnectState and the client-data
// handler on the SimConnect worker. Lock order: sendLock, then queueLock,
// then the SimConnect client's locks. The L-var handler is called without
// any lock held. All waits and time limits go through the Clock and stop()
// wakes them.
class MobiFlightClient {
public:
    enum Kind : int { kPlain = 0, kHold = 1, kEncoder = 2 };

    static constexpr std::uint32_t kCommandAreaId = 0x1000;
    static constexpr std::uint32_t kResponseAreaId = 0x1001;
    static constexpr std::uint32_t kClientCommandAreaId = 0x1010;
    static constexpr std::uint32_t kClientResponseAreaId = 0x1011;
    static constexpr std::uint32_t kClientLVarsAreaId = 0x1012;
    static constexpr std::uint32_t kCommandDefinition = 0x1100;
    static constexpr std::uint32_t kResponseDefinition = 0x1101;
    static constexpr std::uint32_t kLVarsDefinition = 0x1102;
    static constexpr std::uint32_t kResponseRequest = 0x1200;
    static constexpr std::uint32_t kLVarsRequest = 0x1201;
    static constexpr std::uint32_t kClientResponseRequest = 0x1202;
    static constexpr std::uint32_t kLVarsReadRequest = 0x1203;
    static constexpr std::uint32_t kBlockSize = SimConnectClient::kCommandBlockSize;
    static constexpr std::uint32_t kLVarsSize = 4096;
    // A few seconds of presses from both hands on every panel at once.
    static constexpr std::size_t kMaxQueuedPresses = 256;
    // A few seconds of a knob spun as fast as a hand can.
    static constexpr std::int32_t kMaxEncoderBacklog = 512;

    explicit MobiFlightClient(Clock& clock = Clock::system());
    ~MobiFlightClient();  // stops

    // With settings.enabled off: returns true and starts nothing. Fails with
    // "MobiFlight client already running" or "Failed to start MobiFlight
    // worker: " + reason. Installs the client-data handler on simConnect,
    // which must outlive this client's use of it.
    bool start(SimConnectClient& simConnect, const MobiFlightSettings& settings,
               std::string& error);
    // Joins the worker, empties the queue, forgets the L-var handler and
    // removes the client-data handler. Idempotent.
    void stop();

    void setLVarHandler(std::function<void(const LVarPayload&)> handler);
    void onSimConnectState(bool connected);

    // Queues "MF.SimVars.Set.1 " + rpn. Fails with "MobiFlight disabled",
    // "MobiFlight not running" or "Empty RPN command"; amount 0 does nothing.
    bool send(const std::string& rpn, int kind, std::int32_t amount, std::string& error);
    // Writes it at once on the caller's thread (no queue, no rate limit).
    bool sendNow(const std::string& rpn, std::string& error);
    // Cancels queued and pending encoder work for that command.
    void dropPending(const std::string& rpn);
    bool isReady() const { return ready_.load(); }

    // What the L-var handler is handed for a payload of the L-var area:
    // text when the bytes read as text, else the little-endian float they
    // start with; false when the payload carries nothing usable (too short,
    // or not a finite number).
    static bool decodeLVarPayload(const std::uint8_t* data, std::uint32_t size,
                                  LVarPayload& payload);

    MobiFlightClient(const MobiFlightClient&) = delete;
    MobiFlightClient& operator=(const MobiFlightClient&) = delete;

private:
    struct Command {
        std::string text;
        int kind = kPlain;
    };
    struct EncoderSteps {
        std::int32_t amount = 0;
        bool queued = false;
        bool inFlight = false;
        bool capped = false;  // the backlog bound was reported for this entry
    };
    enum class Work { Stop, Attempt, Warn, Complete, Command };

    bool refused(const std::string& rpn, bool needsLink, std::string& error) const;
    // Whether the bound was newly hit (to be reported outside the lock).
    bool addEncoderStepsLocked(EncoderSteps& steps, std::int32_t amount) REQUIRES(queueLock_);
    bool makeRoomForPressLocked() REQUIRES(queueLock_);
    static void warnBacklog(const std::string& rpn);

    void workerLoop();
    Work nextWork(Command& command, std::uint64_t& generation) EXCLUDES(queueLock_);
    bool takeCommandLocked(Command& command) REQUIRES(queueLock_);
    void runCommand(const Command& command, std::uint64_t generation);
    void putBack(const Command& command, std::uint64_t generation);
    void finishEncoder(const Command& command, std::uint64_t generation);
    void waitRateLimit() EXCLUDES(sendLock_, queueLock_);
    // Waits up to d of the clock's time; returns early when stop() is called.
    void pause(Clock::Duration d) EXCLUDES(queueLock_);
    bool isCurrent(std::uint64_t generation) EXCLUDES(queueLock_);

    void attemptRegistration(std::uint64_t generation);
    void warnSilence();
    void completeRegistration(std::uint64_t generation);
    bool setUpChannels(std::string& error);
    bool setUpClientChannels(std::string& error);
    bool writeClientSetUp(std::string& error) EXCLUDES(sendLock_);

    void writeCommand(const Command& command) EXCLUDES(sendLock_);
    void writeEncoder(const Command& command) REQUIRES(sendLock_);
    // Writes the RPN command and its dummy; false when the command itself failed.
    bool writeOnce(const Command& command, std::string& error, bool& dummyWritten)
        REQUIRES(sendLock_);
    bool writeBlock(const std::string& text, std::uint32_t areaId, std::string& error,
                    SimConnectClient::ServerErrors errors = SimConnectClient::ServerErrors::Warn)
        REQUIRES(sendLock_);

    void onClientData(std::uint32_t requestId, const std::uint8_t* data, std::uint32_t size);
    void onResponse(const std::string& text);
    void onLVars(const std::uint8_t* data, std::uint32_t size);

    Clock& clock_;
    // Send failures repeat with every press while the link is bad: one line,
    // then a count a minute.
    RepeatLimiter sendWarnings_{clock_};
    SimConnectClient* simConnect_ = nullptr;
    MobiFlightSettings settings_;
    std::atomic<bool> enabled_{true};
    std::atomic<bool> running_{false};
    std::atomic<bool> simConnected_{false};
    std::atomic<bool> ready_{false};
    std::thread worker_;

    // Command writes, then the queue, then the SimConnect client's locks
    // (which the writes take): never the other way round.
    Mutex sendLock_;  // serialises command writes
    Clock::TimePoint lastSend_ GUARDED_BY(sendLock_){};
    bool lastSendSet_ GUARDED_BY(sendLock_) = false;

    Mutex queueLock_ ACQUIRED_AFTER(sendLock_);
    std::condition_variable queueSignal_;
    std::deque<Command> queue_ GUARDED_BY(queueLock_);
    std::set<std::string> queuedHolds_ GUARDED_BY(queueLock_);
    std::map<std::string, EncoderSteps> encoderSteps_ GUARDED_BY(queueLock_);
    // The press bound was reported and the queue has not been empty since.
    bool pressesOverflowed_ GUARDED_BY(queueLock_) = false;
    MobiFlightRegistration registration_ GUARDED_BY(queueLock_);
    // Counts connection changes and stops, so that work taken before one is
    // not carried into the next connection.
    std::uint64_t generation_ GUARDED_BY(queueLock_) = 0;
    // The command the worker holds between taking it and putting it back,
    // and whether dropPending cancelled it meanwhile.
    std::string taken_ GUARDED_BY(queueLock_);
    bool takenDropped_ GUARDED_BY(queueLock_) = false;

    Mutex lvarLock_;  // held alone, never while calling the handler
    std::function<void(const LVarPayload&)> lvarHandler_ GUARDED_BY(lvarLock_);
};
