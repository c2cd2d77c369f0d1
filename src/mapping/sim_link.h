#pragma once

#include <cstdint>
#include <string>

// What the mapping engine needs from the simulator link: MobiFlight RPN
// commands (queued or direct) and the simulator's own events. The real
// clients stand behind ClientSimLink (client_link.h); tests record the
// calls instead.
//
// Threads: called from the engine's event and hold workers, never under an
// engine lock. Each call may block on the link's own locks, never on the
// engine.
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
};
