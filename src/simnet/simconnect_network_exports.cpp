// The SimConnect functions over the network client: SimConnect_Open finds
// the server (resolveEndpointForOpen: the configured endpoint, else
// SimConnect.cfg, else the local pipe) and every other function works on
// the ClientConnection behind the handle.
//
// A handle is the connection's address, looked up in a table of open
// connections: an unknown or closed handle gets E_FAIL instead of touching
// freed memory, and a call that races with Close finishes on a connection
// kept alive for it. A null string argument is sent as an empty string.

#include <memory>
#include <unordered_map>

#include "common/mutex.h"
#include "sim/simconnect_api.h"
#include "simnet/client_connection.h"

namespace simconnect {

namespace {

using simnet::ClientConnection;

class HandleTable {
public:
    HANDLE add(std::shared_ptr<ClientConnection> connection) {
        MutexLock lock(lock_);
        HANDLE handle = connection.get();
        live_[handle] = std::move(connection);
        return handle;
    }

    std::shared_ptr<ClientConnection> find(HANDLE handle) {
        MutexLock lock(lock_);
        const auto it = live_.find(handle);
        return it == live_.end() ? nullptr : it->second;
    }

    std::shared_ptr<ClientConnection> remove(HANDLE handle) {
        MutexLock lock(lock_);
        const auto it = live_.find(handle);
        if (it == live_.end()) return nullptr;
        std::shared_ptr<ClientConnection> connection = std::move(it->second);
        live_.erase(it);
        return connection;
    }

private:
    Mutex lock_;
    std::unordered_map<HANDLE, std::shared_ptr<ClientConnection>> live_ GUARDED_BY(lock_);
};

HandleTable& handles() {
    static HandleTable table;
    return table;
}

std::string text(const char* s) {
    return s ? std::string(s) : std::string();
}

HRESULT sendCall(HANDLE handle, const simnet::Call& call) {
    const std::shared_ptr<ClientConnection> connection = handles().find(handle);
    return connection ? connection->send(call) : E_FAIL_RESULT;
}

}  // namespace

extern "C" {

HRESULT SIMCONNECT_CALL SimConnect_Open(HANDLE* phSimConnect, LPCSTR szName, HWND, DWORD, HANDLE,
                                        DWORD ConfigIndex) {
    if (!phSimConnect) return E_INVALIDARG_RESULT;
    *phSimConnect = nullptr;
    const std::optional<simnet::Endpoint> endpoint = simnet::resolveEndpointForOpen(ConfigIndex);
    if (!endpoint) return E_FAIL_RESULT;
    std::unique_ptr<ClientConnection> connection;
    std::string error;
    const HRESULT result = ClientConnection::open(*endpoint, text(szName), {}, connection, error);
    if (result == S_OK_RESULT) *phSimConnect = handles().add(std::move(connection));
    return result;
}

HRESULT SIMCONNECT_CALL SimConnect_Close(HANDLE hSimConnect) {
    // The connection ends when the last call still using it returns.
    return handles().remove(hSimConnect) ? S_OK_RESULT : E_FAIL_RESULT;
}

HRESULT SIMCONNECT_CALL SimConnect_CallDispatch(HANDLE hSimConnect, DispatchProc pfcnDispatch,
                                                void* pContext) {
    const std::shared_ptr<ClientConnection> connection = handles().find(hSimConnect);
    return connection ? connection->callDispatch(pfcnDispatch, pContext) : E_FAIL_RESULT;
}

HRESULT SIMCONNECT_CALL SimConnect_AddToDataDefinition(HANDLE hSimConnect,
                                                       SIMCONNECT_DATA_DEFINITION_ID DefineID,
                                                       const char* DatumName, const char* UnitsName,
                                                       SIMCONNECT_DATATYPE DatumType,
                                                       float fEpsilon, DWORD DatumID) {
    return sendCall(hSimConnect, simnet::AddToDataDefinitionCall{
                                     DefineID, text(DatumName), text(UnitsName),
                                     static_cast<DWORD>(DatumType), fEpsilon, DatumID});
}

HRESULT SIMCONNECT_CALL SimConnect_RequestDataOnSimObject(
    HANDLE hSimConnect, SIMCONNECT_DATA_REQUEST_ID RequestID,
    SIMCONNECT_DATA_DEFINITION_ID DefineID, SIMCONNECT_OBJECT_ID ObjectID, SIMCONNECT_PERIOD Period,
    SIMCONNECT_DATA_REQUEST_FLAG Flags, DWORD origin, DWORD interval, DWORD limit) {
    return sendCall(hSimConnect, simnet::RequestDataOnSimObjectCall{
                                     RequestID, DefineID, ObjectID, static_cast<DWORD>(Period),
                                     Flags, origin, interval, limit});
}

HRESULT SIMCONNECT_CALL SimConnect_MapClientEventToSimEvent(HANDLE hSimConnect,
                                                            SIMCONNECT_CLIENT_EVENT_ID EventID,
                                                            const char* EventName) {
    return sendCall(hSimConnect, simnet::MapClientEventToSimEventCall{EventID, text(EventName)});
}

HRESULT SIMCONNECT_CALL SimConnect_TransmitClientEvent(
    HANDLE hSimConnect, SIMCONNECT_OBJECT_ID ObjectID, SIMCONNECT_CLIENT_EVENT_ID EventID,
    DWORD dwData, SIMCONNECT_NOTIFICATION_GROUP_ID GroupID, SIMCONNECT_EVENT_FLAG Flags) {
    return sendCall(hSimConnect,
                    simnet::TransmitClientEventCall{ObjectID, EventID, dwData, GroupID, Flags});
}

HRESULT SIMCONNECT_CALL SimConnect_MapClientDataNameToID(HANDLE hSimConnect,
                                                         const char* szClientDataName,
                                                         SIMCONNECT_CLIENT_DATA_ID ClientDataID) {
    return sendCall(hSimConnect,
                    simnet::MapClientDataNameToIdCall{text(szClientDataName), ClientDataID});
}

HRESULT SIMCONNECT_CALL SimConnect_AddToClientDataDefinition(
    HANDLE hSimConnect, SIMCONNECT_CLIENT_DATA_DEFINITION_ID DefineID, DWORD dwOffset,
    DWORD dwSizeOrType, float fEpsilon, DWORD DatumID) {
    return sendCall(hSimConnect, simnet::AddToClientDataDefinitionCall{
                                     DefineID, dwOffset, dwSizeOrType, fEpsilon, DatumID});
}

HRESULT SIMCONNECT_CALL SimConnect_RequestClientData(HANDLE hSimConnect,
                                                     SIMCONNECT_CLIENT_DATA_ID ClientDataID,
                                                     SIMCONNECT_DATA_REQUEST_ID RequestID,
                                                     SIMCONNECT_CLIENT_DATA_DEFINITION_ID DefineID,
                                                     SIMCONNECT_CLIENT_DATA_PERIOD Period,
                                                     SIMCONNECT_CLIENT_DATA_REQUEST_FLAG Flags,
                                                     DWORD origin, DWORD interval, DWORD limit) {
    return sendCall(hSimConnect, simnet::RequestClientDataCall{ClientDataID, RequestID, DefineID,
                                                               static_cast<DWORD>(Period), Flags,
                                                               origin, interval, limit});
}

HRESULT SIMCONNECT_CALL SimConnect_SetClientData(HANDLE hSimConnect,
                                                 SIMCONNECT_CLIENT_DATA_ID ClientDataID,
                                                 SIMCONNECT_CLIENT_DATA_DEFINITION_ID DefineID,
                                                 SIMCONNECT_CLIENT_DATA_SET_FLAG Flags,
                                                 DWORD dwReserved, DWORD cbUnitSize,
                                                 void* pDataSet) {
    if (!pDataSet && cbUnitSize > 0) return E_INVALIDARG_RESULT;
    const std::shared_ptr<ClientConnection> connection = handles().find(hSimConnect);
    if (!connection) return E_FAIL_RESULT;
    // Data that cannot fit the send buffer is refused without copying it.
    if (cbUnitSize > simnet::kMaxClientMessageSize) return connection->refuseOversized();
    const auto* bytes = static_cast<const std::uint8_t*>(pDataSet);
    return connection->send(
        simnet::SetClientDataCall{ClientDataID,
                                  DefineID,
                                  Flags,
                                  dwReserved,
                                  {std::vector<std::uint8_t>(bytes, bytes + cbUnitSize)}});
}

HRESULT SIMCONNECT_CALL SimConnect_CreateClientData(HANDLE hSimConnect,
                                                    SIMCONNECT_CLIENT_DATA_ID ClientDataID,
                                                    DWORD dwSize,
                                                    SIMCONNECT_CREATE_CLIENT_DATA_FLAG Flags) {
    return sendCall(hSimConnect, simnet::CreateClientDataCall{ClientDataID, dwSize, Flags});
}

HRESULT SIMCONNECT_CALL SimConnect_GetLastSentPacketID(HANDLE hSimConnect, DWORD* pdwSendID) {
    if (!pdwSendID) return E_INVALIDARG_RESULT;
    const std::shared_ptr<ClientConnection> connection = handles().find(hSimConnect);
    if (!connection) return E_FAIL_RESULT;
    *pdwSendID = connection->lastSentPacketId();
    return S_OK_RESULT;
}

}  // extern "C"

}  // namespace simconnect
