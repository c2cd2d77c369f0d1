#include "simnet/network_library.h"

#include <vector>

#include "platform/stream_transport.h"

namespace simnet {

namespace {

using simconnect::E_FAIL_RESULT;
using simconnect::E_INVALIDARG_RESULT;
using simconnect::S_OK_RESULT;

std::string text(const char* s) {
    return s ? std::string(s) : std::string();
}

}  // namespace

NetworkLibrary::NetworkLibrary(std::optional<Endpoint> endpoint, ClientConnection::Options options)
    : endpoint_(std::move(endpoint)), options_(options) {}

NetworkLibrary::~NetworkLibrary() = default;

std::string describeBuiltInClient(const Endpoint& endpoint) {
    return std::string("built-in client, ") +
           (endpoint.transport == Endpoint::Transport::Tcp ? "TCP " : "pipe ") +
           endpoint.describe();
}

std::string NetworkLibrary::describe() const {
    const std::optional<Endpoint> endpoint = resolveEndpointForOpen(endpoint_, 0);
    if (!endpoint) return "built-in client, no simulator address (no SimConnect.cfg, no pipes)";
    return describeBuiltInClient(*endpoint);
}

std::shared_ptr<ClientConnection> NetworkLibrary::find(HANDLE handle) {
    MutexLock lock(lock_);
    const auto it = live_.find(handle);
    return it == live_.end() ? nullptr : it->second;
}

NetworkLibrary::HRESULT NetworkLibrary::sendCall(HANDLE handle, const Call& call) {
    const std::shared_ptr<ClientConnection> connection = find(handle);
    return connection ? connection->send(call) : E_FAIL_RESULT;
}

NetworkLibrary::HRESULT NetworkLibrary::open(HANDLE* handle, const char* name) {
    if (!handle) return E_INVALIDARG_RESULT;
    *handle = nullptr;
    const std::optional<Endpoint> endpoint = resolveEndpointForOpen(endpoint_, 0);
    if (!endpoint) return E_FAIL_RESULT;
    std::unique_ptr<ClientConnection> connection;
    std::string error;
    const HRESULT result =
        ClientConnection::open(*endpoint, text(name), options_, connection, error);
    if (result != S_OK_RESULT) return result;
    MutexLock lock(lock_);
    *handle = connection.get();
    live_[*handle] = std::move(connection);
    return result;
}

NetworkLibrary::HRESULT NetworkLibrary::close(HANDLE handle) {
    // The connection ends when the last call still using it returns.
    std::shared_ptr<ClientConnection> connection;
    {
        MutexLock lock(lock_);
        const auto it = live_.find(handle);
        if (it == live_.end()) return E_FAIL_RESULT;
        connection = std::move(it->second);
        live_.erase(it);
    }
    return S_OK_RESULT;
}

NetworkLibrary::HRESULT NetworkLibrary::callDispatch(HANDLE handle,
                                                     simconnect::DispatchProc dispatch,
                                                     void* context) {
    const std::shared_ptr<ClientConnection> connection = find(handle);
    return connection ? connection->callDispatch(dispatch, context) : E_FAIL_RESULT;
}

NetworkLibrary::HRESULT NetworkLibrary::addToDataDefinition(
    HANDLE handle, simconnect::SIMCONNECT_DATA_DEFINITION_ID defineId, const char* datumName,
    const char* unitsName, simconnect::SIMCONNECT_DATATYPE datumType, float epsilon,
    DWORD datumId) {
    return sendCall(handle,
                    AddToDataDefinitionCall{defineId, text(datumName), text(unitsName),
                                            static_cast<DWORD>(datumType), epsilon, datumId});
}

NetworkLibrary::HRESULT NetworkLibrary::requestDataOnSimObject(
    HANDLE handle, simconnect::SIMCONNECT_DATA_REQUEST_ID requestId,
    simconnect::SIMCONNECT_DATA_DEFINITION_ID defineId, simconnect::SIMCONNECT_OBJECT_ID objectId,
    simconnect::SIMCONNECT_PERIOD period, simconnect::SIMCONNECT_DATA_REQUEST_FLAG flags,
    DWORD origin, DWORD interval, DWORD limit) {
    return sendCall(handle, RequestDataOnSimObjectCall{requestId, defineId, objectId,
                                                       static_cast<DWORD>(period), flags, origin,
                                                       interval, limit});
}

NetworkLibrary::HRESULT NetworkLibrary::mapClientEventToSimEvent(
    HANDLE handle, simconnect::SIMCONNECT_CLIENT_EVENT_ID eventId, const char* eventName) {
    return sendCall(handle, MapClientEventToSimEventCall{eventId, text(eventName)});
}

NetworkLibrary::HRESULT NetworkLibrary::transmitClientEvent(
    HANDLE handle, simconnect::SIMCONNECT_OBJECT_ID objectId,
    simconnect::SIMCONNECT_CLIENT_EVENT_ID eventId, DWORD data,
    simconnect::SIMCONNECT_NOTIFICATION_GROUP_ID groupId, simconnect::SIMCONNECT_EVENT_FLAG flags) {
    return sendCall(handle, TransmitClientEventCall{objectId, eventId, data, groupId, flags});
}

NetworkLibrary::HRESULT NetworkLibrary::mapClientDataNameToId(
    HANDLE handle, const char* clientDataName, simconnect::SIMCONNECT_CLIENT_DATA_ID clientDataId) {
    return sendCall(handle, MapClientDataNameToIdCall{text(clientDataName), clientDataId});
}

NetworkLibrary::HRESULT NetworkLibrary::addToClientDataDefinition(
    HANDLE handle, simconnect::SIMCONNECT_CLIENT_DATA_DEFINITION_ID defineId, DWORD offset,
    DWORD sizeOrType, float epsilon, DWORD datumId) {
    return sendCall(handle,
                    AddToClientDataDefinitionCall{defineId, offset, sizeOrType, epsilon, datumId});
}

NetworkLibrary::HRESULT NetworkLibrary::requestClientData(
    HANDLE handle, simconnect::SIMCONNECT_CLIENT_DATA_ID clientDataId,
    simconnect::SIMCONNECT_DATA_REQUEST_ID requestId,
    simconnect::SIMCONNECT_CLIENT_DATA_DEFINITION_ID defineId,
    simconnect::SIMCONNECT_CLIENT_DATA_PERIOD period,
    simconnect::SIMCONNECT_CLIENT_DATA_REQUEST_FLAG flags, DWORD origin, DWORD interval,
    DWORD limit) {
    return sendCall(
        handle, RequestClientDataCall{clientDataId, requestId, defineId, static_cast<DWORD>(period),
                                      flags, origin, interval, limit});
}

NetworkLibrary::HRESULT NetworkLibrary::setClientData(
    HANDLE handle, simconnect::SIMCONNECT_CLIENT_DATA_ID clientDataId,
    simconnect::SIMCONNECT_CLIENT_DATA_DEFINITION_ID defineId,
    simconnect::SIMCONNECT_CLIENT_DATA_SET_FLAG flags, DWORD reserved, DWORD unitSize, void* data) {
    if (!data && unitSize > 0) return E_INVALIDARG_RESULT;
    const std::shared_ptr<ClientConnection> connection = find(handle);
    if (!connection) return E_FAIL_RESULT;
    // Data that cannot fit the send buffer is refused without copying it.
    if (unitSize > kMaxClientMessageSize) return connection->refuseOversized();
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    return connection->send(
        SetClientDataCall{clientDataId,
                          defineId,
                          flags,
                          reserved,
                          {std::vector<std::uint8_t>(bytes, bytes + unitSize)}});
}

NetworkLibrary::HRESULT NetworkLibrary::createClientData(
    HANDLE handle, simconnect::SIMCONNECT_CLIENT_DATA_ID clientDataId, DWORD size,
    simconnect::SIMCONNECT_CREATE_CLIENT_DATA_FLAG flags) {
    return sendCall(handle, CreateClientDataCall{clientDataId, size, flags});
}

NetworkLibrary::HRESULT NetworkLibrary::getLastSentPacketId(HANDLE handle, DWORD* sendId) {
    if (!sendId) return E_INVALIDARG_RESULT;
    const std::shared_ptr<ClientConnection> connection = find(handle);
    if (!connection) return E_FAIL_RESULT;
    *sendId = connection->lastSentPacketId();
    return S_OK_RESULT;
}

NetworkLibrary::HRESULT NetworkLibrary::clearDataDefinition(
    HANDLE handle, simconnect::SIMCONNECT_DATA_DEFINITION_ID defineId) {
    return sendCall(handle, ClearDataDefinitionCall{defineId});
}

NetworkLibrary::HRESULT NetworkLibrary::subscribeToSystemEvent(
    HANDLE handle, simconnect::SIMCONNECT_CLIENT_EVENT_ID eventId, const char* systemEventName) {
    return sendCall(handle, SubscribeToSystemEventCall{eventId, text(systemEventName)});
}

NetworkLibrary::HRESULT NetworkLibrary::unsubscribeFromSystemEvent(
    HANDLE handle, simconnect::SIMCONNECT_CLIENT_EVENT_ID eventId) {
    return sendCall(handle, UnsubscribeFromSystemEventCall{eventId});
}

NetworkLibrary::HRESULT NetworkLibrary::requestSystemState(
    HANDLE handle, simconnect::SIMCONNECT_DATA_REQUEST_ID requestId, const char* state) {
    return sendCall(handle, RequestSystemStateCall{requestId, text(state)});
}

}  // namespace simnet
