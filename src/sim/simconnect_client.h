#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <unordered_map>

#include "common/clock.h"
#include "common/mutex.h"
#include "log/repeat_limiter.h"
#include "sim/simconnect_call_log.h"
#include "sim/simconnect_library.h"

namespace simconnect {
struct SIMCONNECT_RECV;
}

// The program's one connection to the simulator. A worker thread waits for
// a panel and a simulator process, opens the connection, pumps messages
// every 15 ms and reopens it with back-off (5, 10, 20, 30, 30 … s, shared
// by failed opens, connections that end within 10 s of opening, and worker
// exceptions; a connection that lasted 10 s or more is reopened at once
// and resets the delay). When the simulator exits it asks the program to
// shut down (at most once, and never before a first connection), unless
// its SimulatorPolicy says to keep running and connect again.
//
// The SDK's library returns from SimConnect_Open before the simulator has
// answered, and may keep reporting success on a link that broke. So:
// - an open counts only once RECV_OPEN arrives: then the connection is
//   usable (isConnected, the "connected" report); without RECV_OPEN within
//   10 s the open has failed (closed, backed off, retried);
// - while a connection is open, the process probe is asked every 3 s; a
//   simulator process gone is a disconnect.
// A simulator on another machine (SimulatorPolicy::localProcess off, or a
// probe that always answers true) turns off both the wait for a local
// simulator process and that check. Such a simulator may be down for
// hours, so then a failed open is logged as a warning once per reason
// until a connection is made, and as a debug line while it repeats.
//
// "SimConnect connecting" is logged when the open is sent, "SimConnect
// session opened: <application>" and "SimConnect connected" when the
// simulator answers. What the server sends is logged through
// outsideText() (log/outside_text.h), and what it may repeat at will (a
// second open answer, exceptions beyond the budget) through a repeat
// limiter. Server exceptions are logged as WARN with the exception's name
// and the call they belong to, once per distinct case (SimConnectCallLog).
// Nothing thrown by a message handler or callback crosses the library's
// frames: the dispatch procedure catches it and the worker handles it like
// any worker exception.
//
// Threads: start/stop from the owner, never from one of the callbacks; the
// send and client-data operations from any thread (they are serialised, so
// that each call's send id is read right after it); every callback runs on
// the worker thread, except the "disconnected" report made by stop(), which
// runs on the stopping thread. Callbacks are copied under the client's lock
// and called without it. Every wait and every time limit goes through the
// Clock, and stop() wakes the worker out of any wait, the 30 s back-off
// included.
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

    // How a server exception for a call is logged: WARN, or DEBUG for a
    // call whose failure its caller reports in its own way.
    enum class ServerErrors { Warn, Quiet };

    static constexpr std::uint32_t kCommandBlockSize = 1024;

    // Where the simulator is, and what its end means for the program.
    struct SimulatorPolicy {
        // The simulator runs on this machine: wait for its process before
        // opening, and take the process's end for a disconnect.
        bool localProcess = true;
        // When the simulator ends (its QUIT; with localProcess also its
        // process gone after a connection), ask the program to shut down.
        // Otherwise log that it keeps running, and connect again later.
        bool exitWithSimulator = true;
    };

    // Calls the SimConnect functions of `library`, which must outlive the
    // client. An empty probe means the machine's process list (platform
    // process scan).
    explicit SimConnectClient(simconnect::Library& library, Clock& clock = Clock::system(),
                              ProcessProbe probe = {});
    ~SimConnectClient();  // stops

    // An empty clientName means "CorvaneHID". onConnectionChanged and
    // panelsPresent may be empty. Fails with "SimConnect client already
    // running" or "Failed to start SimConnect worker: " + reason.
    bool start(const std::string& clientName, std::function<void(bool)> onConnectionChanged,
               std::function<bool()> panelsPresent, std::string& error);
    // Ends and joins the worker, then disconnects ("shutdown"). Idempotent.
    void stop();

    // Before start(); without a call the defaults above apply.
    void setSimulatorPolicy(const SimulatorPolicy& policy);
    void setBatteryHandler(std::function<void(bool)> handler);
    void setClientDataHandler(ClientDataHandler handler);
    void setExitHandler(std::function<void()> handler);

    // The simulator has answered the open connection.
    bool isConnected() const { return connected_.load(); }

    // Sends the named client event with data 0; the name is mapped to a new
    // event id (1, 2, 3 … per connection) on first use.
    bool transmitEvent(const std::string& eventName, std::string& error);
    bool mapClientDataName(const std::string& name, std::uint32_t clientDataId, std::string& error);
    bool addClientDataDefinition(std::uint32_t defineId, std::uint32_t sizeBytes,
                                 std::string& error);
    // Asks for the area whenever it is set and its bytes changed.
    bool requestClientData(std::uint32_t clientDataId, std::uint32_t requestId,
                           std::uint32_t defineId, std::string& error,
                           ServerErrors errors = ServerErrors::Warn);
    // Asks for the area's bytes once, as they are now.
    bool readClientDataOnce(std::uint32_t clientDataId, std::uint32_t requestId,
                            std::uint32_t defineId, std::string& error);
    // Writes one command block of kCommandBlockSize bytes.
    bool setClientData(std::uint32_t clientDataId, std::uint32_t defineId,
                       const std::uint8_t* block, std::string& error,
                       ServerErrors errors = ServerErrors::Warn);

    // Hands one received message (as the library would pass it, `size` its
    // cbData) to the client's dispatch on the calling thread, and throws on
    // what a handler threw. For a harness (the fuzz target) only, on a
    // client that was never started.
    void dispatchForHarness(const std::uint8_t* message, std::uint32_t size);

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
    // The open handle's life; worker thread only.
    struct Link {
        Clock::TimePoint openedAt{};
        Clock::TimePoint nextProcessCheck{};
        bool answered = false;       // RECV_OPEN seen
        bool quitReceived = false;   // a QUIT seen during dispatch, acted on after it
        std::exception_ptr failure;  // thrown by a handler during dispatch
    };

    void workerLoop();
    void runPass(WorkerState& state);
    bool panelsReady(WorkerState& state);
    void waitForSimulator(WorkerState& state);
    void serveLink(WorkerState& state);
    std::int32_t pump();
    void promote();
    bool simulatorStillRunning();
    // Closes the link; true when it had lasted long enough to reset the delay.
    bool closeLink(const std::string& reason);
    void settleRetry(WorkerState& state, bool lasted);
    void retryLater(WorkerState& state);
    bool connect(std::string& error);
    bool adoptHandle(void* handle) EXCLUDES(lock_);
    void beginLink(void* handle, const std::string& name) EXCLUDES(sendSerial_, recordLock_);
    void subscribeBattery();
    void disconnect(const std::string& reason);
    // The simulator ended: the program is asked to end, or told it goes on.
    void simulatorEnded();
    void requestExit();
    // "Waiting for SimConnect connection: " + reason, once per reason for a
    // simulator elsewhere.
    void logWaiting(const std::string& reason);
    // Waits up to d of the clock's time; returns early when stop() is called.
    void pause(Clock::Duration d) EXCLUDES(lock_);
    void* currentHandle() EXCLUDES(lock_);
    // Runs call() on the open connection while it cannot be closed, and
    // records the call's send id for the server's exceptions.
    template <typename Call>
    bool callOnConnection(const char* function, const std::string& subject, bool requireConnected,
                          ServerErrors errors, Call call, std::string& error)
        EXCLUDES(callLock_, lock_);
    template <typename Call>
    std::int32_t sendRecorded(void* handle, const char* function, const std::string& subject,
                              ServerErrors errors, Call call) REQUIRES_SHARED(callLock_)
        EXCLUDES(sendSerial_, recordLock_);
    std::string areaName(std::uint32_t clientDataId) EXCLUDES(recordLock_);
    // The connection's handle and the event's id, mapped on its first use.
    bool mapEvent(const std::string& eventName, void*& handle, std::uint32_t& eventId,
                  std::string& error) REQUIRES_SHARED(callLock_) EXCLUDES(lock_);

    friend class SimConnectDispatcher;  // the dispatch procedure
    void onMessage(const simconnect::SIMCONNECT_RECV* message, std::uint32_t size);
    void onOpenAnswer(const std::uint8_t* message, std::uint32_t size);
    void onException(const std::uint8_t* message, std::uint32_t size);
    void onBatteryData(const std::uint8_t* message, std::uint32_t size);
    void onClientDataMessage(const std::uint8_t* message, std::uint32_t size);

    simconnect::Library& library_;
    Clock& clock_;
    ProcessProbe probe_;
    std::atomic<bool> running_{false};
    std::atomic<bool> connected_{false};
    std::atomic<bool> exitRequested_{false};
    std::atomic<bool> everConnected_{false};
    std::thread worker_;

    // Held shared by every SimConnect call on the handle and exclusively by
    // the close, so a handle stays valid for the whole of each call. The
    // order: callLock_, lock_, sendSerial_, recordLock_; a caller's own
    // locks (the engine's inbox is never held around a call) come before
    // all of them.
    SharedMutex callLock_;
    Mutex lock_ ACQUIRED_AFTER(callLock_);
    std::condition_variable wake_;
    void* handle_ GUARDED_BY(lock_) = nullptr;
    std::string clientName_ GUARDED_BY(lock_);
    std::function<void(bool)> onConnectionChanged_ GUARDED_BY(lock_);
    std::function<bool()> panelsPresent_ GUARDED_BY(lock_);
    std::function<void(bool)> onBatteryMaster_ GUARDED_BY(lock_);
    ClientDataHandler onClientData_ GUARDED_BY(lock_);
    std::function<void()> onSimulatorExit_ GUARDED_BY(lock_);
    SimulatorPolicy policy_ GUARDED_BY(lock_);
    std::unordered_map<std::string, std::uint32_t> eventIds_ GUARDED_BY(lock_);
    std::uint32_t nextEventId_ GUARDED_BY(lock_) = 1;

    // Serialises each sending call with the read of its send id; never held
    // while waiting for anything else.
    Mutex sendSerial_ ACQUIRED_AFTER(lock_);
    std::uint32_t lastSendId_ GUARDED_BY(sendSerial_) = 0;
    // Guards the call log and the area names; held only briefly, never
    // around a SimConnect call.
    Mutex recordLock_ ACQUIRED_AFTER(sendSerial_);
    SimConnectCallLog callLog_ GUARDED_BY(recordLock_);
    std::map<std::uint32_t, std::string> areaNames_
        GUARDED_BY(recordLock_);  // client data id -> name

    // What the server sends again and again (open answers, exceptions over
    // the budget): one line, then a count a minute.
    RepeatLimiter receiveWarnings_{clock_};
    Link link_;                     // worker thread only
    SimulatorPolicy workerPolicy_;  // worker thread only: policy_ as the worker started
    std::string lastWaitReason_;    // worker thread only: since the last connection
    bool endNoticed_ = false;       // worker thread only: simulatorEnded() since then
};
