#pragma once

#include "common/clock.h"
#include "mapping/sim_link.h"

class MobiFlightSession;
class SimConnectClient;

// The engine's link when the MobiFlight session runs on the engine thread:
// commands go to the session, simulator events to the SimConnect client,
// and the link's changes, answers and due work reach the session through
// the engine's hooks. Holds references only: the client, the session and
// the clock must outlive it.
class SessionLink final : public SimLink {
public:
    SessionLink(SimConnectClient& simConnect, MobiFlightSession& session, Clock& clock)
        : simConnect_(simConnect), session_(session), clock_(clock) {}

    bool ready() const override;
    bool queueCommand(const std::string& rpn, Kind kind, std::int32_t amount,
                      std::string& error) override;
    bool sendNow(const std::string& rpn, std::string& error) override;
    void dropPending(const std::string& rpn) override;
    bool connected() const override;
    bool transmitEvent(const std::string& name, std::string& error) override;

    void onLinkChange(bool connected, Clock::TimePoint now) override;
    void onClientData(std::uint32_t requestId, const std::vector<std::uint8_t>& bytes,
                      Clock::TimePoint now) override;
    Clock::TimePoint tick(Clock::TimePoint now) override;

private:
    SimConnectClient& simConnect_;
    MobiFlightSession& session_;
    Clock& clock_;
};
