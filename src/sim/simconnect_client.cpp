#include "sim/simconnect_client.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <system_error>

#include "common/program_name.h"
#include "log/logger.h"
#include "log/outside_text.h"
#include "platform/process_scan.h"
#include "sim/sim_variables.h"
#include "sim/simconnect_api.h"

using namespace simconnect;
using std::chrono::milliseconds;

namespace {

const char* const kDefaultClientName = kProgramName;
constexpr DWORD kBatteryDefinition = 1;
constexpr DWORD kBatteryRequest = 1;

constexpr milliseconds kPumpInterval{15};
constexpr milliseconds kPanelWait{1000};
constexpr milliseconds kSimulatorWait{5000};
constexpr milliseconds kFirstRetry{5000};
constexpr milliseconds kMaxRetry{30000};
// How long an open may wait for the simulator's RECV_OPEN.
constexpr milliseconds kAnswerTimeout{10000};
// A connection that ends sooner does not reset the back-off.
constexpr milliseconds kShortConnection{10000};
// How often an open connection checks that the simulator process still runs.
constexpr milliseconds kProcessCheckInterval{3000};

const char kNoAnswer[] = "no answer from the simulator within 10 s";
const char kProcessEnded[] = "simulator process ended";

bool simulatorProcessRunning() {
    return platform::isAnyProcessRunning({"FlightSimulator.exe", "FlightSimulator2024.exe"});
}

DWORD readDword(const std::uint8_t* bytes, std::size_t offset) {
    DWORD value = 0;
    std::memcpy(&value, bytes + offset, sizeof(value));
    return value;
}

// "KittyHawk 11.0": the answering application, as far as the answer holds it.
std::string describeOpenAnswer(const std::uint8_t* bytes, std::uint32_t size) {
    constexpr std::size_t kName = offsetof(SIMCONNECT_RECV_OPEN, szApplicationName);
    constexpr std::size_t kNameSize = sizeof(SIMCONNECT_RECV_OPEN::szApplicationName);
    constexpr std::size_t kMajor = offsetof(SIMCONNECT_RECV_OPEN, dwApplicationVersionMajor);
    constexpr std::size_t kMinor = offsetof(SIMCONNECT_RECV_OPEN, dwApplicationVersionMinor);
    if (size < kMinor + sizeof(DWORD)) return "(a short answer)";
    const char* name = reinterpret_cast<const char*>(bytes + kName);
    const void* zero = std::memchr(name, 0, kNameSize);
    const std::size_t length = zero ? static_cast<const char*>(zero) - name : kNameSize;
    return outsideText(std::string_view(name, length)) + " " +
           std::to_string(readDword(bytes, kMajor)) + "." +
           std::to_string(readDword(bytes, kMinor));
}

bool openConnection(simconnect::Library& library, const std::string& name, HANDLE& handle,
                    std::string& error) {
    const HRESULT result = library.open(&handle, name.c_str());
    if (result < 0) {
        error = "SimConnect_Open failed (" + SimConnectClient::formatResult(result) + ")";
        return false;
    }
    if (!handle) {
        error = "SimConnect_Open returned no handle";
        return false;
    }
    return true;
}

}  // namespace

// Lets the C dispatch procedure reach the client's private message handler.
// Nothing thrown gets past it into the library's frames: the first failure
// is kept for the worker, and the rest of that batch is dropped.
class SimConnectDispatcher {
public:
    static void SIMCONNECT_CALL proc(SIMCONNECT_RECV* message, DWORD size, void* context) noexcept {
        if (!message || !context) return;
        auto* client = static_cast<SimConnectClient*>(context);
        if (client->link_.failure) return;
        try {
            client->onMessage(message, size);
        } catch (...) {
            client->link_.failure = std::current_exception();
        }
    }
};

SimConnectClient::SimConnectClient(simconnect::Library& library, Clock& clock, ProcessProbe probe)
    : library_(library),
      clock_(clock),
      probe_(probe ? std::move(probe) : ProcessProbe(simulatorProcessRunning)) {}

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
        MutexLock guard(lock_);
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
        MutexLock guard(lock_);
    }
    wake_.notify_all();
    if (worker_.joinable()) worker_.join();
    disconnect("shutdown");
}

void SimConnectClient::setSimulatorPolicy(const SimulatorPolicy& policy) {
    MutexLock guard(lock_);
    policy_ = policy;
}

void SimConnectClient::setBatteryHandler(std::function<void(bool)> handler) {
    MutexLock guard(lock_);
    onBatteryMaster_ = std::move(handler);
}

void SimConnectClient::setClientDataHandler(ClientDataHandler handler) {
    MutexLock guard(lock_);
    onClientData_ = std::move(handler);
}

void SimConnectClient::setExitHandler(std::function<void()> handler) {
    MutexLock guard(lock_);
    onSimulatorExit_ = std::move(handler);
}

// --- worker ----------------------------------------------------------------

void SimConnectClient::workerLoop() {
    {
        MutexLock guard(lock_);
        workerPolicy_ = policy_;
    }
    lastWaitReason_.clear();
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

void SimConnectClient::settleRetry(WorkerState& state, bool lasted) {
    if (lasted) {
        state.retryDelay = kFirstRetry;
    } else {
        retryLater(state);
    }
}

void SimConnectClient::runPass(WorkerState& state) {
    if (currentHandle()) {
        serveLink(state);
        return;
    }
    const bool simulatorRunning = !workerPolicy_.localProcess || probe_();
    if (everConnected_ && !simulatorRunning) simulatorEnded();
    if (!panelsReady(state)) return;
    if (!simulatorRunning) {
        waitForSimulator(state);
        return;
    }
    if (state.simulatorWaitNotice) {
        logInfo("Flight simulator process detected");
        state.simulatorWaitNotice = false;
    }
    std::string error;
    if (connect(error)) return;
    if (!error.empty()) logWaiting(error);
    retryLater(state);
}

bool SimConnectClient::panelsReady(WorkerState& state) {
    std::function<bool()> panelsPresent;
    {
        MutexLock guard(lock_);
        panelsPresent = panelsPresent_;
    }
    if (panelsPresent && !panelsPresent()) {
        if (!state.panelWaitNotice) {
            logInfo("Waiting for HID device to connect");
            state.panelWaitNotice = true;
            state.simulatorWaitNotice = false;
        }
        pause(kPanelWait);
        return false;
    }
    if (state.panelWaitNotice) {
        logInfo("HID device detected");
        state.panelWaitNotice = false;
    }
    return true;
}

void SimConnectClient::waitForSimulator(WorkerState& state) {
    if (!state.simulatorWaitNotice) {
        logInfo("Waiting for flight simulator process to start");
        state.simulatorWaitNotice = true;
    }
    pause(kSimulatorWait);
}

void SimConnectClient::serveLink(WorkerState& state) {
    const std::int32_t result = pump();
    receiveWarnings_.poll();
    // A QUIT is acted on only now: closing the handle from inside the
    // dispatch procedure would pull it from under the library's own call.
    if (link_.quitReceived) {
        const bool lasted = closeLink("SimConnect quit");
        simulatorEnded();
        settleRetry(state, lasted);
        return;
    }
    if (result < 0) {
        settleRetry(state, closeLink("dispatch error " + formatResult(result)));
        return;
    }
    if (!connected_ && link_.answered) promote();
    if (!connected_ && clock_.now() - link_.openedAt >= kAnswerTimeout) {
        settleRetry(state, closeLink(kNoAnswer));
        return;
    }
    if (!simulatorStillRunning()) {
        settleRetry(state, closeLink(kProcessEnded));
        return;
    }
    pause(kPumpInterval);
}

void* SimConnectClient::currentHandle() {
    MutexLock guard(lock_);
    return handle_;
}

std::int32_t SimConnectClient::pump() {
    std::int32_t result = 0;
    {
        SharedLock call(callLock_);
        void* handle = currentHandle();
        if (!handle) return 0;
        result = library_.callDispatch(handle, &SimConnectDispatcher::proc, this);
    }
    if (link_.failure) {
        const std::exception_ptr failure = link_.failure;
        link_.failure = nullptr;
        std::rethrow_exception(failure);
    }
    return result;
}

// The simulator answered: from now on the connection is usable.
void SimConnectClient::promote() {
    std::function<void(bool)> onConnectionChanged;
    {
        MutexLock guard(lock_);
        onConnectionChanged = onConnectionChanged_;
    }
    const bool wasConnected = connected_.exchange(true);
    everConnected_ = true;
    lastWaitReason_.clear();
    endNoticed_ = false;
    if (wasConnected) return;
    logInfo("SimConnect connected");
    if (onConnectionChanged) onConnectionChanged(true);
}

bool SimConnectClient::simulatorStillRunning() {
    if (!workerPolicy_.localProcess) return true;
    const Clock::TimePoint now = clock_.now();
    if (now < link_.nextProcessCheck) return true;
    link_.nextProcessCheck = now + kProcessCheckInterval;
    return probe_();
}

bool SimConnectClient::closeLink(const std::string& reason) {
    const bool answered = connected_.load();
    const bool lasted = answered && clock_.now() - link_.openedAt >= kShortConnection;
    disconnect(reason);
    if (!answered) logWaiting(reason);
    return lasted;
}

void SimConnectClient::logWaiting(const std::string& reason) {
    const std::string text = "Waiting for SimConnect connection: " + reason;
    if (!workerPolicy_.localProcess && reason == lastWaitReason_) {
        logDebug(text);
        return;
    }
    lastWaitReason_ = reason;
    logWarn(text);
}

void SimConnectClient::pause(Clock::Duration d) {
    MutexLock lock(lock_);
    clock_.waitUntil(wake_, lock.native(), clock_.now() + d, [this] { return !running_.load(); });
}

bool SimConnectClient::connect(std::string& error) {
    std::string name;
    {
        MutexLock guard(lock_);
        name = clientName_;
    }
    HANDLE handle = nullptr;
    if (!openConnection(library_, name, handle, error)) return false;
    if (!adoptHandle(handle)) return true;
    beginLink(handle, name);
    subscribeBattery();
    logInfo("SimConnect connecting");
    return true;
}

// False (and the handle closed) when a connection is already held: a second
// handle is never kept.
bool SimConnectClient::adoptHandle(void* handle) {
    MutexLock guard(lock_);
    if (handle_) {
        library_.close(handle);
        return false;
    }
    handle_ = handle;
    eventIds_.clear();
    nextEventId_ = 1;
    return true;
}

// A new link's times, and its send ids counted from the open's own.
void SimConnectClient::beginLink(void* handle, const std::string& name) {
    link_ = Link{};
    link_.openedAt = clock_.now();
    link_.nextProcessCheck = link_.openedAt + kProcessCheckInterval;
    DWORD openSendId = 0;
    if (library_.getLastSentPacketId(handle, &openSendId) < 0) openSendId = 0;
    {
        MutexLock serial(sendSerial_);
        lastSendId_ = openSendId;
    }
    MutexLock guard(recordLock_);
    callLog_.newConnection();
    areaNames_.clear();
    if (openSendId != 0) callLog_.record(openSendId, "SimConnect_Open", name, false);
}

void SimConnectClient::subscribeBattery() {
    std::string error;
    const bool defined = callOnConnection(
        "SimConnect_AddToDataDefinition", kBatteryVariable, false, ServerErrors::Warn,
        [this](void* handle) {
            return library_.addToDataDefinition(handle, kBatteryDefinition, kBatteryVariable,
                                                "Bool", SIMCONNECT_DATATYPE_INT32, 0.0f,
                                                SIMCONNECT_UNUSED);
        },
        error);
    if (!defined) {
        logWarn("SimConnect data definitions failed: " + error);
        return;
    }
    const bool requested = callOnConnection(
        "SimConnect_RequestDataOnSimObject", kBatteryVariable, false, ServerErrors::Warn,
        [this](void* handle) {
            return library_.requestDataOnSimObject(
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
        ExclusiveLock call(callLock_);  // waits for calls in flight
        {
            MutexLock guard(lock_);
            handle = handle_;
            handle_ = nullptr;
            eventIds_.clear();
            nextEventId_ = 1;
            onConnectionChanged = onConnectionChanged_;
        }
        if (handle) library_.close(handle);
    }
    const bool wasConnected = connected_.exchange(false);
    if (!handle || !wasConnected) return;
    logWarn("SimConnect disconnected: " + reason);
    if (onConnectionChanged) onConnectionChanged(false);
}

void SimConnectClient::simulatorEnded() {
    if (endNoticed_) return;  // once per connection
    endNoticed_ = true;
    if (workerPolicy_.exitWithSimulator) {
        requestExit();
    } else {
        logInfo("Simulator closed; the program keeps running and connects again when it is back");
    }
}

void SimConnectClient::requestExit() {
    if (exitRequested_.exchange(true)) return;
    std::function<void()> onExit;
    {
        MutexLock guard(lock_);
        onExit = onSimulatorExit_;
    }
    if (!onExit) return;
    logInfo("Simulator closed; requesting application shutdown");
    onExit();
}

// --- messages --------------------------------------------------------------

void SimConnectClient::dispatchForHarness(const std::uint8_t* message, std::uint32_t size) {
    // The library's C signature lacks the const; nothing writes through it.
    SimConnectDispatcher::proc(
        reinterpret_cast<SIMCONNECT_RECV*>(const_cast<std::uint8_t*>(message)), size, this);
    if (!link_.failure) return;
    const std::exception_ptr failure = link_.failure;
    link_.failure = nullptr;
    std::rethrow_exception(failure);
}

void SimConnectClient::onMessage(const SIMCONNECT_RECV* message, std::uint32_t size) {
    // Trust neither length alone: read no further than both allow.
    if (size < sizeof(SIMCONNECT_RECV)) return;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(message);
    const std::uint32_t length = std::min<std::uint32_t>(size, readDword(bytes, 0));
    switch (readDword(bytes, 8)) {
        case SIMCONNECT_RECV_ID_EXCEPTION:
            onException(bytes, length);
            break;
        case SIMCONNECT_RECV_ID_OPEN:
            onOpenAnswer(bytes, length);
            break;
        case SIMCONNECT_RECV_ID_QUIT:
            link_.quitReceived = true;
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

// The first answer opens the session; a server that repeats it is
// counted, not logged each time.
void SimConnectClient::onOpenAnswer(const std::uint8_t* message, std::uint32_t size) {
    if (link_.answered) {
        receiveWarnings_.warn("SimConnect server answered the open again; ignored");
        return;
    }
    link_.answered = true;
    logInfo("SimConnect session opened: " + describeOpenAnswer(message, size));
}

void SimConnectClient::onException(const std::uint8_t* message, std::uint32_t size) {
    if (size < sizeof(SIMCONNECT_RECV_EXCEPTION)) return;
    const DWORD exception = readDword(message, offsetof(SIMCONNECT_RECV_EXCEPTION, dwException));
    const DWORD sendId = readDword(message, offsetof(SIMCONNECT_RECV_EXCEPTION, dwSendID));
    SimConnectCallLog::Report report;
    {
        MutexLock guard(recordLock_);
        report = callLog_.onException(exception, sendId);
    }
    if (report.level == SimConnectCallLog::Level::Warn) {
        logWarn(report.text);
    } else if (report.level == SimConnectCallLog::Level::Debug) {
        logDebug(report.text);
    } else if (report.level == SimConnectCallLog::Level::OverBudget) {
        receiveWarnings_.warn(report.text);
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
        MutexLock guard(lock_);
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
        MutexLock guard(lock_);
        handler = onClientData_;
    }
    if (handler) {
        handler(requestId, message + kRecvDataPayloadOffset,
                size - static_cast<std::uint32_t>(kRecvDataPayloadOffset));
    }
}

// --- operations ------------------------------------------------------------

// The call is recorded under the send id it is about to get (the last one
// plus one: every sending call goes through here, one at a time) before it
// is made, because the server's exception may be dispatched on the worker
// before the call has even returned. Afterwards the library's own count
// corrects the guess.
template <typename Call>
std::int32_t SimConnectClient::sendRecorded(void* handle, const char* function,
                                            const std::string& subject, ServerErrors errors,
                                            Call call) {
    MutexLock serial(sendSerial_);
    const DWORD expected = lastSendId_ + 1;
    const bool quiet = errors == ServerErrors::Quiet;
    {
        MutexLock guard(recordLock_);
        callLog_.record(expected, function, subject, quiet);
    }
    const std::int32_t result = call();
    DWORD sendId = 0;
    if (library_.getLastSentPacketId(handle, &sendId) < 0) sendId = 0;
    if (sendId != 0) lastSendId_ = sendId;
    if (sendId == expected && result >= 0) return result;
    MutexLock guard(recordLock_);
    callLog_.forget(expected);
    if (result >= 0 && sendId != 0) callLog_.record(sendId, function, subject, quiet);
    return result;
}

template <typename Call>
bool SimConnectClient::callOnConnection(const char* function, const std::string& subject,
                                        bool requireConnected, ServerErrors errors, Call call,
                                        std::string& error) {
    SharedLock hold(callLock_);
    void* handle = currentHandle();
    if (requireConnected && (!handle || !connected_)) {
        error = "SimConnect is not connected";
        return false;
    }
    if (!handle) {
        error = "SimConnect handle unavailable";
        return false;
    }
    const std::int32_t result =
        sendRecorded(handle, function, subject, errors, [&] { return call(handle); });
    if (result < 0) {
        error = std::string(function) + " failed (" + formatResult(result) + ")";
        return false;
    }
    return true;
}

std::string SimConnectClient::areaName(std::uint32_t clientDataId) {
    MutexLock guard(recordLock_);
    const auto it = areaNames_.find(clientDataId);
    return it == areaNames_.end() ? "area " + std::to_string(clientDataId) : it->second;
}

bool SimConnectClient::transmitEvent(const std::string& eventName, std::string& error) {
    if (eventName.empty()) {
        error = "SimConnect event name is empty";
        return false;
    }
    SharedLock hold(callLock_);
    void* handle = nullptr;
    std::uint32_t eventId = 0;
    if (!mapEvent(eventName, handle, eventId, error)) return false;
    const HRESULT result =
        sendRecorded(handle, "SimConnect_TransmitClientEvent", eventName, ServerErrors::Warn, [&] {
            return library_.transmitClientEvent(handle, SIMCONNECT_OBJECT_ID_USER, eventId, 0,
                                                SIMCONNECT_GROUP_PRIORITY_HIGHEST,
                                                SIMCONNECT_EVENT_FLAG_GROUPID_IS_PRIORITY);
        });
    if (result < 0) {
        error = "SimConnect_TransmitClientEvent failed (" + formatResult(result) + ")";
        return false;
    }
    return true;
}

bool SimConnectClient::mapEvent(const std::string& eventName, void*& handle, std::uint32_t& eventId,
                                std::string& error) {
    MutexLock guard(lock_);
    if (!handle_ || !connected_) {
        error = "SimConnect is not connected";
        return false;
    }
    handle = handle_;
    const auto known = eventIds_.find(eventName);
    if (known != eventIds_.end()) {
        eventId = known->second;
        return true;
    }
    // The id is used up even when mapping fails: the next try takes a new one.
    eventId = nextEventId_++;
    void* const connection = handle;
    const std::uint32_t id = eventId;
    const HRESULT result = sendRecorded(
        connection, "SimConnect_MapClientEventToSimEvent", eventName, ServerErrors::Warn,
        [&] { return library_.mapClientEventToSimEvent(connection, id, eventName.c_str()); });
    if (result < 0) {
        error = "SimConnect_MapClientEventToSimEvent failed (" + formatResult(result) + ")";
        return false;
    }
    eventIds_[eventName] = eventId;
    return true;
}

bool SimConnectClient::mapClientDataName(const std::string& name, std::uint32_t clientDataId,
                                         std::string& error) {
    const bool mapped = callOnConnection(
        "SimConnect_MapClientDataNameToID", name, true, ServerErrors::Warn,
        [&](void* handle) {
            return library_.mapClientDataNameToId(handle, name.c_str(), clientDataId);
        },
        error);
    if (mapped) {
        MutexLock guard(recordLock_);
        areaNames_[clientDataId] = name;
    }
    return mapped;
}

bool SimConnectClient::addClientDataDefinition(std::uint32_t defineId, std::uint32_t sizeBytes,
                                               std::string& error) {
    return callOnConnection(
        "SimConnect_AddToClientDataDefinition", "definition " + std::to_string(defineId), true,
        ServerErrors::Warn,
        [&](void* handle) {
            return library_.addToClientDataDefinition(handle, defineId, 0, sizeBytes, 0.0f,
                                                      SIMCONNECT_UNUSED);
        },
        error);
}

bool SimConnectClient::requestClientData(std::uint32_t clientDataId, std::uint32_t requestId,
                                         std::uint32_t defineId, std::string& error,
                                         ServerErrors errors) {
    return callOnConnection(
        "SimConnect_RequestClientData", areaName(clientDataId), true, errors,
        [&](void* handle) {
            return library_.requestClientData(handle, clientDataId, requestId, defineId,
                                              SIMCONNECT_CLIENT_DATA_PERIOD_ON_SET,
                                              SIMCONNECT_CLIENT_DATA_REQUEST_FLAG_CHANGED, 0, 0, 0);
        },
        error);
}

bool SimConnectClient::readClientDataOnce(std::uint32_t clientDataId, std::uint32_t requestId,
                                          std::uint32_t defineId, std::string& error) {
    return callOnConnection(
        "SimConnect_RequestClientData", areaName(clientDataId), true, ServerErrors::Warn,
        [&](void* handle) {
            return library_.requestClientData(handle, clientDataId, requestId, defineId,
                                              SIMCONNECT_CLIENT_DATA_PERIOD_ONCE,
                                              SIMCONNECT_CLIENT_DATA_REQUEST_FLAG_DEFAULT, 0, 0, 0);
        },
        error);
}

bool SimConnectClient::setClientData(std::uint32_t clientDataId, std::uint32_t defineId,
                                     const std::uint8_t* block, std::string& error,
                                     ServerErrors errors) {
    if (!block) {
        error = "SimConnect_SetClientData failed (no data)";
        return false;
    }
    return callOnConnection(
        "SimConnect_SetClientData", areaName(clientDataId), true, errors,
        [&](void* handle) {
            // The library only reads the block; its C signature just lacks the const.
            return library_.setClientData(handle, clientDataId, defineId,
                                          SIMCONNECT_CLIENT_DATA_SET_FLAG_DEFAULT, 0,
                                          kCommandBlockSize, const_cast<std::uint8_t*>(block));
        },
        error);
}
