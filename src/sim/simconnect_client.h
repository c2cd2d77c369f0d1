#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>
#include <unordered_map>

#include "common/clock.h"

namespace simconnect {
struct SIMCONNECT_RECV;
}

// The program's one connection to the simulator. A worker thread waits for
// a panel and a simulator process, connects, pumps messages every 15 ms and
// reconnects with back-off (5, 10, 20, 30, 30 … s, shared by failed connects
// and worker exceptions); when the simulator exits it asks the program to
// shut down (at most once, and never before a first connection).
//
// Threads: start/stop from the owner, never from one of the callbacks; the
// send and client-data operations from any thread; every callback runs on
// the worker thread, except the "disconnected" report made by stop(), which
// runs on the stopping thread. Callbacks are copied under the client's lock
// and called without it. Every wait goes through the Clock, and stop()
// wakes the worker out of any wait, the 30 s back-off included.
//
// Failures are returned as text: "SimConnect is not connected", or the
// call's name + " failed (0x" + upper-case hex code + ")". Only a failing
// SimConnect_CallDispatch ends the connection.
class SimConnectClient {
public:
    // True while a simulator process runs ("FlightSimulator.exe" or
    // "FlightSimulator2024.exe", case-insensitive).
    using ProcessProbe = std::function<bool()>;
    using ClientDataHandler =
        std::function<void(std::uint32_t requestId, const std::uint8_t* data, std::uint32_t size)>;

    static constexpr std::uint32_t kCommandBlockSize = 256;

    // An empty probe means the machine's process list (platform process scan).
    explicit SimConnectClient(Clock& clock = Clock::system(), ProcessProbe probe = {});
    ~SimConnectClient();  // stops

    // An empty clientName means "CorvaneHID". onConnectionChanged and
    // panelsPresent may be empty. Fails with "SimConnect client already
    // running" or "Failed to start SimConnect worker: " + reason.
    bool start(const std::string& clientName, std::function<void(bool)> onConnectionChanged,
               std::function<bool()> panelsPresent, std::string& error);
    // Ends and joins the worker, then disconnects ("shutdown"). Idempotent.
    void stop();

    void setBatteryHandler(std::function<void(bool)> handler);
    void setClientDataHandler(ClientDataHandler handler);
    void setExitHandler(std::function<void()> handler);

    bool isConnected() const { return connected_.load(); }

    // Sends the named client event with data 0; the name is mapped to a new
    // event id (1, 2, 3 … per connection) on first use.
    bool transmitEvent(const std::string& eventName, std::string& error);
    bool mapClientDataName(const std::string& name, std::uint32_t clientDataId, std::string& error);
    bool addClientDataDefinition(std::uint32_t defineId, std::uint32_t sizeBytes,
                                 std::string& error);
    bool requestClientData(std::uint32_t clientDataId, std::uint32_t requestId,
                           std::uint32_t defineId, std::string& error);
    // Writes one 256-byte command block.
    bool setClientData(std::uint32_t clientDataId, std::uint32_t defineId,
                       const std::uint8_t* block, std::string& error);

    // "0x" + the 32-bit code in upper-case hex without leading zeros.
    static std::string formatResult(std::int32_t result);

    SimConnectClient(const SimConnectClient&) = delete;
    SimConnectClient& operator=(const SimConnectClient&) = delete;

private:
    struct WorkerState {
        Clock::Duration retryDelay;
        bool simulatorWaitNotice = false;
        bool panelWaitNotice = false;
    };

    void workerLoop();
    void runPass(WorkerState& state);
    void pump();
    void retryLater(WorkerState& state);
    bool connect(std::string& error);
    void subscribeBattery();
    void disconnect(const std::string& reason);
    void requestExit();
    // Waits up to d of the clock's time; returns early when stop() is called.
    void pause(Clock::Duration d);
    // Runs call(handle) on the open connection while it cannot be closed.
    bool callOnConnection(const char* function, bool requireConnected,
                          const std::function<std::int32_t(void*)>& call, std::string& error);

    friend class SimConnectDispatcher;  // the dispatch procedure
    void onMessage(const simconnect::SIMCONNECT_RECV* message, std::uint32_t size);
    void onBatteryData(const std::uint8_t* message, std::uint32_t size);
    void onClientDataMessage(const std::uint8_t* message, std::uint32_t size);

    Clock& clock_;
    ProcessProbe probe_;
    std::atomic<bool> running_{false};
    std::atomic<bool> connected_{false};
    std::atomic<bool> exitRequested_{false};
    std::atomic<bool> everConnected_{false};
    std::thread worker_;

    // Held shared by every SimConnect call on the handle and exclusively by
    // the close, so a handle stays valid for the whole of each call. Taken
    // before lock_, never after it.
    std::shared_mutex callLock_;
    std::mutex lock_;  // guards everything below
    std::condition_variable wake_;
    void* handle_ = nullptr;
    std::string clientName_;
    std::function<void(bool)> onConnectionChanged_;
    std::function<bool()> panelsPresent_;
    std::function<void(bool)> onBatteryMaster_;
    ClientDataHandler onClientData_;
    std::function<void()> onSimulatorExit_;
    std::unordered_map<std::string, std::uint32_t> eventIds_;
    std::uint32_t nextEventId_ = 1;

    // Worker thread only: a QUIT seen during dispatch, acted on after it.
    bool quitReceived_ = false;
};
