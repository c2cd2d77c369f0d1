#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "common/clock.h"

// The program's one connection to the simulator. A worker thread waits for
// a panel and a simulator process, connects, pumps messages every 15 ms and
// reconnects with back-off; when the simulator exits it asks the program to
// shut down (at most once).
//
// Threads: start/stop from the owner; the send and client-data operations
// from any thread; every callback runs on the worker thread, except the
// "disconnected" report made by stop(), which runs on the stopping thread.
class SimConnectClient {
public:
    // True while a simulator process runs ("FlightSimulator.exe" or
    // "FlightSimulator2024.exe", case-insensitive).
    using ProcessProbe = std::function<bool()>;
    using ClientDataHandler =
        std::function<void(std::uint32_t requestId, const std::uint8_t* data, std::uint32_t size)>;

    static constexpr std::uint32_t kCommandBlockSize = 256;

    explicit SimConnectClient(Clock& clock = Clock::system(), ProcessProbe probe = {});
    ~SimConnectClient();

    bool start(const std::string& clientName, std::function<void(bool)> onConnectionChanged,
               std::function<bool()> panelsPresent, std::string& error);
    void stop();

    void setBatteryHandler(std::function<void(bool)> handler);
    void setClientDataHandler(ClientDataHandler handler);
    void setExitHandler(std::function<void()> handler);

    bool isConnected() const { return connected_.load(); }

    bool transmitEvent(const std::string& eventName, std::string& error);
    bool mapClientDataName(const std::string& name, std::uint32_t clientDataId, std::string& error);
    bool addClientDataDefinition(std::uint32_t defineId, std::uint32_t sizeBytes, std::string& error);
    bool requestClientData(std::uint32_t clientDataId, std::uint32_t requestId,
                           std::uint32_t defineId, std::string& error);
    // Writes one 256-byte command block.
    bool setClientData(std::uint32_t clientDataId, std::uint32_t defineId,
                       const std::uint8_t* block, std::string& error);

    SimConnectClient(const SimConnectClient&) = delete;
    SimConnectClient& operator=(const SimConnectClient&) = delete;

private:
    Clock& clock_;
    ProcessProbe probe_;
    std::atomic<bool> running_{false};
    std::atomic<bool> connected_{false};
};
