#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "common/clock.h"
#include "config/app_config.h"
#include "log/repeat_limiter.h"
#include "sim/lvar_payload.h"
#include "sim/mobiflight_protocol.h"
#include "sim/mobiflight_registration.h"

class SimConnectClient;

// The program's side of the MobiFlight WASM module, run on its caller's
// time: registers the program as a module client, subscribes to the
// backlight L-variable, and writes RPN code for the mapping engine, queued
// (coalesced, rate-limited) or at once. The module's channels, ids and
// texts are those of sim/mobiflight_protocol.h.
//
// Registration (on the module's default channels, the settings'
// commandChannel and responseChannel, which belong to MobiFlight's own
// program otherwise): each attempt subscribes to the response area again
// and writes "MF.DummyCmd", "MF.Ping", "MF.Clients.Add.<clientName>" (the
// ping changes the response area's bytes, so the answer that follows is
// always noticed, whatever the area held before). Attempts run at once
// and then as MobiFlightRegistration schedules them (1, 2, 4, then every
// 5 s) until "...Finished" arrives; 10 s after the link came up without it,
// one WARN. Then the session maps its own channels "<clientName>.Command",
// ".Response" and ".LVars", writes "MF.DummyCmd", "MF.SimVars.Clear" and
// "MF.SimVars.Add.(L:LIGHTING_POTENTIOMETER_5)" there, reads its values
// area once (the module reports a value only when it changes), and is
// ready. Every later command goes to its own channel; the default channel
// carries only the registration. A failed set-up of the own channels is
// warned and tried again at the next answer.
//
// Queue: a hold command waits at most once per text; encoder steps for one
// text add up in a single entry and are all written, back to back, when it
// comes up; every RPN write is followed by "MF.DummyCmd" (the module only
// sees a command whose bytes differ from the previous one). Commands wait
// while the link is down or the registration is pending, and are dropped
// at every link change and at stop. Bounds, each reported by one WARN
// until the queue (or the encoder's entry) has drained: at most
// kMaxQueuedPresses plain commands wait (beyond, the oldest is dropped),
// and one encoder entry holds at most kMaxEncoderBacklog steps (beyond,
// more steps are not added). settings.rpnRateLimitMs spaces the queued
// entries (not the steps within one entry, not sendNow); one tick writes at
// most kMaxBatch entries, so whoever drives it serves its other work
// between batches. A write that fails is warned (through a repeat limiter:
// one line, then a count a minute) and not tried again.
//
// Time: the session reads no clock. Every entry point that acts takes
// `now`; send() and dropPending() only change the queue. After any call,
// tick(now) runs what is due and returns when it wants to run next; call
// it again then, or after the next call of any other entry point.
//
// Threads: one thread at a time, none of its own; no locks of its own (its
// repeat limiter's lock is held only inside the limiter's calls). It calls
// the SimConnect client (thread-safe), which must outlive it, and the L-var
// handler synchronously from onClientData; the handler must not call back
// into the session.
class MobiFlightSession {
public:
    enum Kind : int { kPlain = 0, kHold = 1, kEncoder = 2 };
    static constexpr Clock::TimePoint kNever = Clock::TimePoint::max();

    static constexpr std::size_t kMaxQueuedPresses = mobiflight::kMaxQueuedPresses;
    static constexpr std::int32_t kMaxEncoderBacklog = mobiflight::kMaxEncoderBacklog;
    // Queued entries one tick writes at most (an encoder entry with all its
    // steps is one): some 32 writes, a few milliseconds.
    static constexpr std::size_t kMaxBatch = 16;

    // settings.enabled false: every send is refused with "MobiFlight disabled", nothing is written.
    MobiFlightSession(SimConnectClient& simConnect, const MobiFlightSettings& settings);

    void setLVarHandler(std::function<void(const LVarPayload&)> handler);

    // The SimConnect link came up or went down: drops every queued command;
    // up: sets up the default channels and begins the registration (its
    // first attempt is due at once); down: logs "MobiFlight client waiting
    // for SimConnect". A failed set-up is warned; the next link tries again.
    void onLinkChange(bool connected, Clock::TimePoint now);
    // One client-data answer (requestId and the bytes as SimConnect delivered them).
    void onClientData(std::uint32_t requestId, const std::vector<std::uint8_t>& data,
                      Clock::TimePoint now);

    // Queues "MF.SimVars.Set.1 " + rpn. Fails with "MobiFlight disabled",
    // "MobiFlight not running" (after stop) or "Empty RPN command"; amount 0
    // does nothing.
    bool send(const std::string& rpn, Kind kind, std::int32_t amount, std::string& error);
    // Writes it at once (no queue, no rate limit). Fails as send, and with
    // "SimConnect is not connected", "MobiFlight not ready" or the write's
    // error.
    bool sendNow(const std::string& rpn, std::string& error, Clock::TimePoint now);
    // Cancels every queued entry (hold, encoder steps, presses) of that command.
    void dropPending(const std::string& rpn);
    // Registered on the current link.
    bool ready() const { return ready_; }
    // The last link report (false when disabled or stopped).
    bool connected() const { return connected_; }

    // Runs whatever is due at `now`: the registration's answer, warning and
    // attempts, then queued commands (rate-limited, at most kMaxBatch
    // entries); returns when it wants to run next (now when queued work
    // remains beyond the batch, the rate limit's end when that holds the
    // next entry, the registration's next attempt or warning, kNever when
    // nothing is scheduled: queued commands waiting for the registration
    // or the link wait for onClientData or onLinkChange).
    Clock::TimePoint tick(Clock::TimePoint now);

    // Forgets the queue, the registration and the L-var handler; later
    // sends are refused with "MobiFlight not running" and events are
    // ignored. Idempotent.
    void stop();

    MobiFlightSession(const MobiFlightSession&) = delete;
    MobiFlightSession& operator=(const MobiFlightSession&) = delete;

private:
    struct Command {
        std::string text;
        Kind kind = kPlain;
    };
    struct EncoderSteps {
        std::int32_t amount = 0;
        bool capped = false;  // the backlog bound was reported for this entry
    };

    bool refused(const std::string& rpn, bool needsLink, std::string& error) const;
    void addEncoderSteps(const std::string& rpn, const std::string& text, std::int32_t amount);
    void queuePress(const std::string& text);
    void clearQueue();

    bool setUpChannels(std::string& error);
    void attemptRegistration();
    void completeRegistration(Clock::TimePoint now);
    bool setUpClientChannels(std::string& error);
    bool writeClientSetUp(Clock::TimePoint now, std::string& error);
    void onResponse(const std::string& text);
    void onLVars(const std::vector<std::uint8_t>& data);

    // Writes queued entries; returns when the queue wants to run next.
    Clock::TimePoint writeQueued(Clock::TimePoint now);
    Clock::TimePoint rateLimitEnd() const;
    void writeEntry(Command command, Clock::TimePoint now);
    // Writes the RPN command and its dummy; false when the command itself
    // failed, dummyWritten whether the dummy followed it.
    bool writeOnce(const std::string& text, Clock::TimePoint now, std::string& error,
                   bool& dummyWritten);
    // quiet: a server exception for the write is a debug line (the
    // registration's attempts, whose silence the WARN reports).
    bool writeBlock(const std::string& text, std::uint32_t areaId, std::string& error,
                    bool quiet = false);

    SimConnectClient& simConnect_;
    const MobiFlightSettings settings_;
    // Send failures repeat with every press while the link is bad: one
    // line, then a count a minute (on the caller's time).
    RepeatLimiter sendWarnings_;
    bool running_ = true;
    bool connected_ = false;
    bool ready_ = false;
    std::function<void(const LVarPayload&)> lvarHandler_;

    std::deque<Command> queue_;
    std::set<std::string> queuedHolds_;
    // One per encoder entry in queue_.
    std::map<std::string, EncoderSteps> encoderSteps_;
    // The press bound was reported and the queue has not been empty since.
    bool pressesOverflowed_ = false;
    MobiFlightRegistration registration_;
    Clock::TimePoint lastWrite_{};
    bool lastWriteSet_ = false;
};
