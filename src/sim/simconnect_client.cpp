#include "sim/simconnect_client.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <system_error>

#include "log/logger.h"
#include "platform/process_scan.h"
#include "sim/simconnect_api.h"

using namespace simconnect;
using std::chrono::milliseconds;

namespace {

const char kDefaultClientName[] = "CorvaneHID";
const char kBatteryVariable[] = "ELECTRICAL MASTER BATTERY:2";
constexpr DWORD kBatteryDefinition = 1;
constexpr DWORD kBatteryRequest = 1;

constexpr milliseconds kPumpInterval{15};
constexpr milliseconds kPanelWait{1000};
constexpr milliseconds kSimulatorWait{5000};
constexpr milliseconds kFirstRetry{5000};
constexpr milliseconds kMaxRetry{30000};

bool simulatorProcessRunning() {
    return platform::isAnyProcessRunning({"FlightSimulator.exe", "FlightSimulator2024.exe"});
}

DWORD readDword(const std::uint8_t* bytes, std::size_t offset) {
    DWORD value = 0;
    std::memcpy(&value, bytes + offset, sizeof(value));
    return value;
}

}  // namespace

// Lets the C dispatch procedure reach the client's private message handler.
class SimConnectDispatcher {
public:
    static void SIMCONNECT_CALL proc(SIMCONNECT_RECV* message, DWORD size, void* context) {
        if (!message || !context) return;
        static_cast<SimConnectClient*>(context)->onMessage(message, size);
    }
};

SimConnectClient::SimConnectClient(Clock& clock, ProcessProbe probe)
    : clock_(clock), probe_(probe ? std::move(probe) : ProcessProbe(simulatorProcessRunning)) {}

SimConnectClient::~SimConnectClient() {
    stop();
}

std::string SimConnectClient::formatResult(std::int32_t result) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%X",
                  static_cast<unsigned>(static_cast<std::uint32_t>(result)));
    return text;
}

bool SimConnectClient::start(const std::string& clientName,
                             std::function<void(bool)> onConnectionChanged,
                             std::function<bool()> panelsPresent, std::string& error) {
    if (running_.exchange(true)) {
        error = "SimConnect client already running";
        return false;
    }
    {
        std::lock_guard<std::mutex> guard(lock_);
        clientName_ = clientName.empty() ? kDefaultClientName : clientName;
        onConnectionChanged_ = std::move(onConnectionChanged);
        panelsPresent_ = std::move(panelsPresent);
    }
    try {
        worker_ = std::thread(&SimConnectClient::workerLoop, this);
    } catch (const std::system_error& e) {
        running_ = false;
        error = std::string("Failed to start SimConnect worker: ") + e.what();
        return false;
    }
    return true;
}

void SimConnectClient::stop() {
    if (!running_.exchange(false)) return;
    {
        // Taking the lock orders the flag before a waiting worker's re-check.
        std::lock_guard<std::mutex> guard(lock_);
    }
    wake_.notify_all();
    if (worker_.joinable()) worker_.join();
    disconnect("shutdown");
}

void SimConnectClient::setBatteryHandler(std::function<void(bool)> handler) {
    std::lock_guard<std::mutex> guard(lock_);
    onBatteryMaster_ = std::move(handler);
}

void SimConnectClient::setClientDataHandler(ClientDataHandler handler) {
    std::lock_guard<std::mutex> guard(lock_);
    onClientData_ = std::move(handler);
}

void SimConnectClient::setExitHandler(std::function<void()> handler) {
    std::lock_guard<std::mutex> guard(lock_);
    onSimulatorExit_ = std::move(handler);
}

// --- worker ----------------------------------------------------------------

void SimConnectClient::workerLoop() {
    WorkerState state{kFirstRetry};
    while (running_) {
        try {
            runPass(state);
        } catch (const std::exception& e) {
            logError(std::string("SimConnect worker exception: ") + e.what());
            disconnect("worker exception");
            retryLater(state);
        } catch (...) {
            logError("SimConnect worker exception: unknown exception");
            disconnect("worker exception");
            retryLater(state);
        }
    }
}

void SimConnectClient::retryLater(WorkerState& state) {
    pause(state.retryDelay);
    state.retryDelay = std::min<Clock::Duration>(state.retryDelay * 2, kMaxRetry);
}

void SimConnectClient::runPass(WorkerState& state) {
    if (connected_) {
        pump();
        pause(kPumpInterval);
        return;
    }
    const bool simulatorRunning = probe_();
    if (everConnected_ && !simulatorRunning) requestExit();

    std::function<bool()> panelsPresent;
    {
        std::lock_guard<std::mutex> guard(lock_);
        panelsPresent = panelsPresent_;
    }
    if (panelsPresent && !panelsPresent()) {
        if (!state.panelWaitNotice) {
            logInfo("Waiting for HID device to connect");
            state.panelWaitNotice = true;
            state.simulatorWaitNotice = false;
        }
        pause(kPanelWait);
        return;
    }
    if (state.panelWaitNotice) {
        logInfo("HID device detected");
        state.panelWaitNotice = false;
    }

    if (!simulatorRunning) {
        if (!state.simulatorWaitNotice) {
            logInfo("Waiting for flight simulator process to start");
            state.simulatorWaitNotice = true;
        }
        pause(kSimulatorWait);
        return;
    }
    if (state.simulatorWaitNotice) {
        logInfo("Flight simulator process detected");
        state.simulatorWaitNotice = false;
    }
    std::string error;
    if (connect(error)) {
        state.retryDelay = kFirstRetry;
        return;
    }
    if (!error.empty()) logWarn("Waiting for SimConnect connection: " + error);
    retryLater(state);
}

void SimConnectClient::pause(Clock::Duration d) {
    std::unique_lock<std::mutex> lock(lock_);
    clock_.waitUntil(wake_, lock, clock_.now() + d, [this] { return !running_.load(); });
}

void SimConnectClient::pump() {
    std::int32_t result = 0;
    {
        std::shared_lock<std::shared_mutex> call(callLock_);
        void* handle = nullptr;
        {
            std::lock_guard<std::mutex> guard(lock_);
            handle = handle_;
        }
        if (!handle) return;
        result = SimConnect_CallDispatch(handle, &SimConnectDispatcher::proc, this);
    }
    // A QUIT is acted on only now: closing the handle from inside the
    // dispatch procedure would pull it from under the library's own call.
    if (quitReceived_) {
        quitReceived_ = false;
        disconnect("SimConnect quit");
        requestExit();
        return;
    }
    if (result < 0) disconnect("dispatch error " + formatResult(result));
}

bool SimConnectClient::connect(std::string& error) {
    std::string name;
    {
        std::lock_guard<std::mutex> guard(lock_);
        name = clientName_;
    }
    HANDLE handle = nullptr;
    const HRESULT result = SimConnect_Open(&handle, name.c_str(), nullptr, 0, nullptr, 0);
    if (result < 0) {
        error = "SimConnect_Open failed (" + formatResult(result) + ")";
        return false;
    }
    if (!handle) {
        error = "SimConnect_Open returned no handle";
        return false;
    }
    std::function<void(bool)> onConnectionChanged;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (handle_) {
            SimConnect_Close(handle);  // a second handle is never kept
            return true;
        }
        handle_ = handle;
        eventIds_.clear();
        nextEventId_ = 1;
        onConnectionChanged = onConnectionChanged_;
    }
    subscribeBattery();
    const bool wasConnected = connected_.exchange(true);
    everConnected_ = true;
    if (!wasConnected && onConnectionChanged) onConnectionChanged(true);
    logInfo("SimConnect connected");
    return true;
}

void SimConnectClient::subscribeBattery() {
    std::string error;
    const bool defined = callOnConnection(
        "SimConnect_AddToDataDefinition", false,
        [](void* handle) {
            return SimConnect_AddToDataDefinition(handle, kBatteryDefinition, kBatteryVariable,
                                                  "Bool", SIMCONNECT_DATATYPE_INT32, 0.0f,
                                                  SIMCONNECT_UNUSED);
        },
        error);
    if (!defined) {
        logWarn("SimConnect data definitions failed: " + error);
        return;
    }
    const bool requested = callOnConnection(
        "SimConnect_RequestDataOnSimObject", false,
        [](void* handle) {
            return SimConnect_RequestDataOnSimObject(
                handle, kBatteryRequest, kBatteryDefinition, SIMCONNECT_OBJECT_ID_USER,
                SIMCONNECT_PERIOD_SIM_FRAME, SIMCONNECT_DATA_REQUEST_FLAG_CHANGED, 0, 0, 0);
        },
        error);
    if (!requested) logWarn("SimConnect data request failed: " + error);
}

void SimConnectClient::disconnect(const std::string& reason) {
    void* handle = nullptr;
    std::function<void(bool)> onConnectionChanged;
    {
        std::unique_lock<std::shared_mutex> call(callLock_);  // waits for calls in flight
        {
            std::lock_guard<std::mutex> guard(lock_);
            handle = handle_;
            handle_ = nullptr;
            eventIds_.clear();
            nextEventId_ = 1;
            onConnectionChanged = onConnectionChanged_;
        }
        if (handle) SimConnect_Close(handle);
    }
    const bool wasConnected = connected_.exchange(false);
    if (!handle || !wasConnected) return;
    logWarn("SimConnect disconnected: " + reason);
    if (onConnectionChanged) onConnectionChanged(false);
}

void SimConnectClient::requestExit() {
    if (exitRequested_.exchange(true)) return;
    std::function<void()> onExit;
    {
        std::lock_guard<std::mutex> guard(lock_);
        onExit = onSimulatorExit_;
    }
    if (!onExit) return;
    logInfo("Simulator closed; requesting application shutdown");
    onExit();
}

// --- messages --------------------------------------------------------------

void SimConnectClient::onMessage(const SIMCONNECT_RECV* message, std::uint32_t size) {
    // Trust neither length alone: read no further than both allow.
    if (size < sizeof(SIMCONNECT_RECV)) return;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(message);
    const std::uint32_t length = std::min<std::uint32_t>(size, readDword(bytes, 0));
    switch (readDword(bytes, 8)) {
        case SIMCONNECT_RECV_ID_OPEN:
            logInfo("SimConnect session opened");
            break;
        case SIMCONNECT_RECV_ID_QUIT:
            quitReceived_ = true;
            break;
        case SIMCONNECT_RECV_ID_SIMOBJECT_DATA:
            onBatteryData(bytes, length);
            break;
        case SIMCONNECT_RECV_ID_CLIENT_DATA:
            onClientDataMessage(bytes, length);
            break;
        default:
            break;
    }
}

void SimConnectClient::onBatteryData(const std::uint8_t* message, std::uint32_t size) {
    if (size < sizeof(SIMCONNECT_RECV_SIMOBJECT_DATA)) return;
    if (readDword(message, offsetof(SIMCONNECT_RECV_SIMOBJECT_DATA, dwRequestID)) !=
        kBatteryRequest) {
        return;
    }
    const bool on = readDword(message, kRecvDataPayloadOffset) != 0;
    std::function<void(bool)> handler;
    {
        std::lock_guard<std::mutex> guard(lock_);
        handler = onBatteryMaster_;
    }
    if (handler) handler(on);
}

void SimConnectClient::onClientDataMessage(const std::uint8_t* message, std::uint32_t size) {
    if (size <= kRecvDataPayloadOffset) return;
    const std::uint32_t requestId =
        readDword(message, offsetof(SIMCONNECT_RECV_SIMOBJECT_DATA, dwRequestID));
    ClientDataHandler handler;
    {
        std::lock_guard<std::mutex> guard(lock_);
        handler = onClientData_;
    }
    if (handler) {
        handler(requestId, message + kRecvDataPayloadOffset,
                size - static_cast<std::uint32_t>(kRecvDataPayloadOffset));
    }
}

// --- operations ------------------------------------------------------------

bool SimConnectClient::callOnConnection(const char* function, bool requireConnected,
                                        const std::function<std::int32_t(void*)>& call,
                                        std::string& error) {
    std::shared_lock<std::shared_mutex> hold(callLock_);
    void* handle = nullptr;
    {
        std::lock_guard<std::mutex> guard(lock_);
        handle = handle_;
    }
    if (requireConnected && (!handle || !connected_)) {
        error = "SimConnect is not connected";
        return false;
    }
    if (!handle) {
        error = "SimConnect handle unavailable";
        return false;
    }
    const std::int32_t result = call(handle);
    if (result < 0) {
        error = std::string(function) + " failed (" + formatResult(result) + ")";
        return false;
    }
    return true;
}

bool SimConnectClient::transmitEvent(const std::string& eventName, std::string& error) {
    if (eventName.empty()) {
        error = "SimConnect event name is empty";
        return false;
    }
    std::shared_lock<std::shared_mutex> hold(callLock_);
    void* handle = nullptr;
    std::uint32_t eventId = 0;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (!handle_ || !connected_) {
            error = "SimConnect is not connected";
            return false;
        }
        handle = handle_;
        const auto known = eventIds_.find(eventName);
        if (known != eventIds_.end()) {
            eventId = known->second;
        } else {
            // The id is used up even when mapping fails: the next try takes a new one.
            eventId = nextEventId_++;
            const HRESULT result =
                SimConnect_MapClientEventToSimEvent(handle, eventId, eventName.c_str());
            if (result < 0) {
                error = "SimConnect_MapClientEventToSimEvent failed (" + formatResult(result) + ")";
                return false;
            }
            eventIds_[eventName] = eventId;
        }
    }
    const HRESULT result = SimConnect_TransmitClientEvent(
        handle, SIMCONNECT_OBJECT_ID_USER, eventId, 0, SIMCONNECT_GROUP_PRIORITY_HIGHEST,
        SIMCONNECT_EVENT_FLAG_GROUPID_IS_PRIORITY);
    if (result < 0) {
        error = "SimConnect_TransmitClientEvent failed (" + formatResult(result) + ")";
        return false;
    }
    return true;
}

bool SimConnectClient::mapClientDataName(const std::string& name, std::uint32_t clientDataId,
                                         std::string& error) {
    return callOnConnection(
        "SimConnect_MapClientDataNameToID", true,
        [&](void* handle) {
            return SimConnect_MapClientDataNameToID(handle, name.c_str(), clientDataId);
        },
        error);
}

bool SimConnectClient::addClientDataDefinition(std::uint32_t defineId, std::uint32_t sizeBytes,
                                               std::string& error) {
    return callOnConnection(
        "SimConnect_AddToClientDataDefinition", true,
        [&](void* handle) {
            return SimConnect_AddToClientDataDefinition(handle, defineId, 0, sizeBytes, 0.0f,
                                                        SIMCONNECT_UNUSED);
        },
        error);
}

bool SimConnectClient::requestClientData(std::uint32_t clientDataId, std::uint32_t requestId,
                                         std::uint32_t defineId, std::string& error) {
    return callOnConnection(
        "SimConnect_RequestClientData", true,
        [&](void* handle) {
            return SimConnect_RequestClientData(
                handle, clientDataId, requestId, defineId, SIMCONNECT_CLIENT_DATA_PERIOD_ON_SET,
                SIMCONNECT_CLIENT_DATA_REQUEST_FLAG_CHANGED, 0, 0, 0);
        },
        error);
}

bool SimConnectClient::setClientData(std::uint32_t clientDataId, std::uint32_t defineId,
                                     const std::uint8_t* block, std::string& error) {
    if (!block) {
        error = "SimConnect_SetClientData failed (no data)";
        return false;
    }
    return callOnConnection(
        "SimConnect_SetClientData", true,
        [&](void* handle) {
            // The library only reads the block; its C signature just lacks the const.
            return SimConnect_SetClientData(handle, clientDataId, defineId,
                                            SIMCONNECT_CLIENT_DATA_SET_FLAG_DEFAULT, 0,
                                            kCommandBlockSize, const_cast<std::uint8_t*>(block));
        },
        error);
}
