#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "common/clock.h"
#include "config/app_config.h"

class SimConnectClient;

// Talks to the MobiFlight WASM module through SimConnect client-data areas:
// registers the program, subscribes to the backlight L-variable, and runs
// RPN code for the mapping engine, queued (coalesced, rate-limited) on its
// own worker or directly on the caller's thread.
//
// Threads: start/stop from the owner; send/sendNow/dropPending/isReady from
// the mapping engine's threads; onSimConnectState and the client-data
// handler on the SimConnect worker.
class MobiFlightClient {
public:
    enum Kind : int { kPlain = 0, kHold = 1, kEncoder = 2 };

    explicit MobiFlightClient(Clock& clock = Clock::system());
    ~MobiFlightClient();

    bool start(SimConnectClient& simConnect, const MobiFlightSettings& settings, std::string& error);
    void stop();

    void setLVarHandler(std::function<void(const std::string&)> handler);
    void onSimConnectState(bool connected);

    bool send(const std::string& rpn, int kind, std::int32_t amount, std::string& error);
    bool sendNow(const std::string& rpn, std::string& error);
    void dropPending(const std::string& rpn);
    bool isReady() const { return ready_.load(); }

    MobiFlightClient(const MobiFlightClient&) = delete;
    MobiFlightClient& operator=(const MobiFlightClient&) = delete;

private:
    Clock& clock_;
    std::atomic<bool> running_{false};
    std::atomic<bool> ready_{false};
};
