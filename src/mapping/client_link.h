#pragma once

#include "mapping/sim_link.h"

class MobiFlightClient;
class SimConnectClient;

// The engine's link over the program's SimConnect and MobiFlight clients.
// Holds references only: both clients must outlive it. Thread safety is
// theirs.
class ClientSimLink final : public SimLink {
public:
    ClientSimLink(SimConnectClient& simConnect, MobiFlightClient& mobiFlight)
        : simConnect_(simConnect), mobiFlight_(mobiFlight) {}

    bool ready() const override;
    bool queueCommand(const std::string& rpn, Kind kind, std::int32_t amount,
                      std::string& error) override;
    bool sendNow(const std::string& rpn, std::string& error) override;
    void dropPending(const std::string& rpn) override;
    bool connected() const override;
    bool transmitEvent(const std::string& name, std::string& error) override;

private:
    SimConnectClient& simConnect_;
    MobiFlightClient& mobiFlight_;
};
