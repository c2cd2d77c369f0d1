#include "sim/simconnect_call_log.h"

#include <cstring>
#include <iterator>

#include "log/outside_text.h"
#include "sim/simconnect_api.h"

using namespace simconnect;

namespace {

const char kMapEvent[] = "SimConnect_MapClientEventToSimEvent";
const char kTransmitEvent[] = "SimConnect_TransmitClientEvent";

struct ExceptionName {
    SIMCONNECT_EXCEPTION value;
    const char* name;
};

const ExceptionName kExceptionNames[] = {
    {SIMCONNECT_EXCEPTION_NONE, "NONE"},
    {SIMCONNECT_EXCEPTION_ERROR, "ERROR"},
    {SIMCONNECT_EXCEPTION_SIZE_MISMATCH, "SIZE_MISMATCH"},
    {SIMCONNECT_EXCEPTION_UNRECOGNIZED_ID, "UNRECOGNIZED_ID"},
    {SIMCONNECT_EXCEPTION_UNOPENED, "UNOPENED"},
    {SIMCONNECT_EXCEPTION_VERSION_MISMATCH, "VERSION_MISMATCH"},
    {SIMCONNECT_EXCEPTION_TOO_MANY_GROUPS, "TOO_MANY_GROUPS"},
    {SIMCONNECT_EXCEPTION_NAME_UNRECOGNIZED, "NAME_UNRECOGNIZED"},
    {SIMCONNECT_EXCEPTION_TOO_MANY_EVENT_NAMES, "TOO_MANY_EVENT_NAMES"},
    {SIMCONNECT_EXCEPTION_EVENT_ID_DUPLICATE, "EVENT_ID_DUPLICATE"},
    {SIMCONNECT_EXCEPTION_TOO_MANY_MAPS, "TOO_MANY_MAPS"},
    {SIMCONNECT_EXCEPTION_TOO_MANY_OBJECTS, "TOO_MANY_OBJECTS"},
    {SIMCONNECT_EXCEPTION_TOO_MANY_REQUESTS, "TOO_MANY_REQUESTS"},
    {SIMCONNECT_EXCEPTION_WEATHER_INVALID_PORT, "WEATHER_INVALID_PORT"},
    {SIMCONNECT_EXCEPTION_WEATHER_INVALID_METAR, "WEATHER_INVALID_METAR"},
    {SIMCONNECT_EXCEPTION_WEATHER_UNABLE_TO_GET_OBSERVATION, "WEATHER_UNABLE_TO_GET_OBSERVATION"},
    {SIMCONNECT_EXCEPTION_WEATHER_UNABLE_TO_CREATE_STATION, "WEATHER_UNABLE_TO_CREATE_STATION"},
    {SIMCONNECT_EXCEPTION_WEATHER_UNABLE_TO_REMOVE_STATION, "WEATHER_UNABLE_TO_REMOVE_STATION"},
    {SIMCONNECT_EXCEPTION_INVALID_DATA_TYPE, "INVALID_DATA_TYPE"},
    {SIMCONNECT_EXCEPTION_INVALID_DATA_SIZE, "INVALID_DATA_SIZE"},
    {SIMCONNECT_EXCEPTION_DATA_ERROR, "DATA_ERROR"},
    {SIMCONNECT_EXCEPTION_INVALID_ARRAY, "INVALID_ARRAY"},
    {SIMCONNECT_EXCEPTION_CREATE_OBJECT_FAILED, "CREATE_OBJECT_FAILED"},
    {SIMCONNECT_EXCEPTION_LOAD_FLIGHTPLAN_FAILED, "LOAD_FLIGHTPLAN_FAILED"},
    {SIMCONNECT_EXCEPTION_OPERATION_INVALID_FOR_OBJECT_TYPE, "OPERATION_INVALID_FOR_OBJECT_TYPE"},
    {SIMCONNECT_EXCEPTION_ILLEGAL_OPERATION, "ILLEGAL_OPERATION"},
    {SIMCONNECT_EXCEPTION_ALREADY_SUBSCRIBED, "ALREADY_SUBSCRIBED"},
    {SIMCONNECT_EXCEPTION_INVALID_ENUM, "INVALID_ENUM"},
    {SIMCONNECT_EXCEPTION_DEFINITION_ERROR, "DEFINITION_ERROR"},
    {SIMCONNECT_EXCEPTION_DUPLICATE_ID, "DUPLICATE_ID"},
    {SIMCONNECT_EXCEPTION_DATUM_ID, "DATUM_ID"},
    {SIMCONNECT_EXCEPTION_OUT_OF_BOUNDS, "OUT_OF_BOUNDS"},
    {SIMCONNECT_EXCEPTION_ALREADY_CREATED, "ALREADY_CREATED"},
    {SIMCONNECT_EXCEPTION_OBJECT_OUTSIDE_REALITY_BUBBLE, "OBJECT_OUTSIDE_REALITY_BUBBLE"},
    {SIMCONNECT_EXCEPTION_OBJECT_CONTAINER, "OBJECT_CONTAINER"},
    {SIMCONNECT_EXCEPTION_OBJECT_AI, "OBJECT_AI"},
    {SIMCONNECT_EXCEPTION_OBJECT_ATC, "OBJECT_ATC"},
    {SIMCONNECT_EXCEPTION_OBJECT_SCHEDULE, "OBJECT_SCHEDULE"},
};

}  // namespace

std::string SimConnectCallLog::exceptionName(std::uint32_t exception) {
    for (const ExceptionName& entry : kExceptionNames) {
        if (static_cast<std::uint32_t>(entry.value) == exception) return entry.name;
    }
    return "exception " + std::to_string(exception);
}

void SimConnectCallLog::newConnection() {
    calls_.clear();
    reportedThisConnection_ = 0;
}

void SimConnectCallLog::record(std::uint32_t sendId, const char* function, std::string subject,
                               bool quiet) {
    calls_.push_back({sendId, function, std::move(subject), quiet});
    if (calls_.size() > kRememberedCalls) calls_.pop_front();
}

void SimConnectCallLog::forget(std::uint32_t sendId) {
    for (auto it = calls_.rbegin(); it != calls_.rend(); ++it) {
        if (it->sendId == sendId) {
            calls_.erase(std::next(it).base());
            return;
        }
    }
}

const SimConnectCallLog::Call* SimConnectCallLog::find(std::uint32_t sendId) const {
    // Exceptions follow their calls closely: search from the newest.
    for (auto it = calls_.rbegin(); it != calls_.rend(); ++it) {
        if (it->sendId == sendId) return &*it;
    }
    return nullptr;
}

SimConnectCallLog::Report SimConnectCallLog::reportOnce(const std::string& key, Level level,
                                                        std::string text) {
    if (reported_.count(key) != 0) return {};
    if (reportedThisConnection_ >= kMaxCases) {
        return {Level::OverBudget, "SimConnect server sent more than " + std::to_string(kMaxCases) +
                                       " different exceptions on this connection; further ones "
                                       "are not logged until it reconnects"};
    }
    ++reportedThisConnection_;
    if (reported_.size() < kRememberedCases) reported_.insert(key);
    return {level, std::move(text)};
}

SimConnectCallLog::Report SimConnectCallLog::onException(std::uint32_t exception,
                                                         std::uint32_t sendId) {
    const std::string name = exceptionName(exception);
    const Call* call = find(sendId);
    if (!call) {
        return reportOnce(name + " unknown", Level::Warn,
                          "SimConnect exception " + name + " for an unknown call (send id " +
                              std::to_string(sendId) + ")");
    }
    const bool mapping = std::strcmp(call->function, kMapEvent) == 0;
    if (mapping && exception == SIMCONNECT_EXCEPTION_NAME_UNRECOGNIZED &&
        refusedEvents_.size() < kMaxCases) {
        refusedEvents_.insert(call->subject);
    }
    if (std::strcmp(call->function, kTransmitEvent) == 0 &&
        refusedEvents_.count(call->subject) != 0) {
        return {};
    }
    const std::string what = std::string(call->function) + "(" + outsideText(call->subject) + ")";
    return reportOnce((call->quiet ? "quiet " : "") + name + " " + what,
                      call->quiet ? Level::Debug : Level::Warn,
                      "SimConnect exception " + name + " for " + what);
}
