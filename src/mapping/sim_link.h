#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/clock.h"

// What the mapping engine needs from the simulator link: MobiFlight RPN
// commands (queued or direct) and the simulator's own events. The real
// clients stand behind SessionLink (session_link.h); tests record the
// calls instead.
//
// Threads: called from the engine's thread only. A link whose work runs on
// that thread (the MobiFlight session) also gets the link's changes and
// answers, and its due work, through the hooks below; a link with threads
// of its own ignores them.
class SimLink {
public:
    // How a queued command is coalesced: plain commands keep their order one
    // by one, a hold text is queued at most once, encoder steps of one text
    // add up in one entry.
    enum Kind : int { kPlain = 0, kHold = 1, kEncoder = 2 };

    virtual ~SimLink() = default;

    // MobiFlight registered and able to run commands now.
    virtual bool ready() const = 0;
    // Queues `rpn` (`amount` times for kEncoder). False with the reason.
    virtual bool queueCommand(const std::string& rpn, Kind kind, std::int32_t amount,
                              std::string& error) = 0;
    // Writes `rpn` at once on the caller's thread.
    virtual bool sendNow(const std::string& rpn, std::string& error) = 0;
    // Drops queued copies of `rpn` that have not been written yet.
    virtual void dropPending(const std::string& rpn) = 0;

    // The SimConnect link is open.
    virtual bool connected() const = 0;
    // Sends the simulator event `name`. False with the reason.
    virtual bool transmitEvent(const std::string& name, std::string& error) = 0;

    virtual void onLinkChange(bool /*connected*/, Clock::TimePoint /*now*/) {}
    virtual void onClientData(std::uint32_t /*requestId*/, const std::vector<std::uint8_t>& /*bytes*/,
                              Clock::TimePoint /*now*/) {}
    // Runs the link's due work; returns when it is due next.
    virtual Clock::TimePoint tick(Clock::TimePoint /*now*/) { return Clock::TimePoint::max(); }
};
