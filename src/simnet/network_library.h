#pragma once

#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

#include "common/mutex.h"
#include "sim/simconnect_library.h"
#include "simnet/client_connection.h"
#include "simnet/endpoint.h"

namespace simnet {

// The SimConnect functions over this project's own network client: the
// program's default link, with no SimConnect.dll. Each open finds the
// server (resolveEndpointForOpen: the endpoint given here, else the SDK's
// SimConnect.cfg files, else the simulator's local pipe) and every other
// call works on the ClientConnection behind the handle.
//
// A handle is the connection's address, looked up in this object's table
// of open connections: an unknown or closed handle gets E_FAIL instead of
// touching freed memory, and a call that races with Close finishes on a
// connection kept alive for it. A null string argument is sent as an empty
// string. Threads: any; the table has its own lock, taken alone.
// "built-in client, TCP 127.0.0.1:500" or "built-in client, pipe \\.\pipe\...":
// how the log and --check name the built-in client and where it connects.
std::string describeBuiltInClient(const Endpoint& endpoint);

class NetworkLibrary final : public simconnect::Library {
public:
    // `endpoint` wins over every SimConnect.cfg; nullopt reads them at each
    // open, as the SDK's library does.
    explicit NetworkLibrary(std::optional<Endpoint> endpoint = std::nullopt,
                            ClientConnection::Options options = {});
    ~NetworkLibrary() override;

    // "built-in client, TCP 127.0.0.1:500" or "built-in client, pipe \\.\pipe\...";
    // without a fixed endpoint, what an open would reach now.
    std::string describe() const override;

    using HRESULT = simconnect::HRESULT;
    using HANDLE = simconnect::HANDLE;
    using DWORD = simconnect::DWORD;

    HRESULT open(HANDLE* handle, const char* name) override;
    HRESULT close(HANDLE handle) override;
    HRESULT callDispatch(HANDLE handle, simconnect::DispatchProc dispatch, void* context) override;
    HRESULT addToDataDefinition(HANDLE handle, simconnect::SIMCONNECT_DATA_DEFINITION_ID defineId,
                                const char* datumName, const char* unitsName,
                                simconnect::SIMCONNECT_DATATYPE datumType, float epsilon,
                                DWORD datumId) override;
    HRESULT requestDataOnSimObject(HANDLE handle, simconnect::SIMCONNECT_DATA_REQUEST_ID requestId,
                                   simconnect::SIMCONNECT_DATA_DEFINITION_ID defineId,
                                   simconnect::SIMCONNECT_OBJECT_ID objectId,
                                   simconnect::SIMCONNECT_PERIOD period,
                                   simconnect::SIMCONNECT_DATA_REQUEST_FLAG flags, DWORD origin,
                                   DWORD interval, DWORD limit) override;
    HRESULT mapClientEventToSimEvent(HANDLE handle, simconnect::SIMCONNECT_CLIENT_EVENT_ID eventId,
                                     const char* eventName) override;
    HRESULT transmitClientEvent(HANDLE handle, simconnect::SIMCONNECT_OBJECT_ID objectId,
                                simconnect::SIMCONNECT_CLIENT_EVENT_ID eventId, DWORD data,
                                simconnect::SIMCONNECT_NOTIFICATION_GROUP_ID groupId,
                                simconnect::SIMCONNECT_EVENT_FLAG flags) override;
    HRESULT mapClientDataNameToId(HANDLE handle, const char* clientDataName,
                                  simconnect::SIMCONNECT_CLIENT_DATA_ID clientDataId) override;
    HRESULT addToClientDataDefinition(HANDLE handle,
                                      simconnect::SIMCONNECT_CLIENT_DATA_DEFINITION_ID defineId,
                                      DWORD offset, DWORD sizeOrType, float epsilon,
                                      DWORD datumId) override;
    HRESULT requestClientData(HANDLE handle, simconnect::SIMCONNECT_CLIENT_DATA_ID clientDataId,
                              simconnect::SIMCONNECT_DATA_REQUEST_ID requestId,
                              simconnect::SIMCONNECT_CLIENT_DATA_DEFINITION_ID defineId,
                              simconnect::SIMCONNECT_CLIENT_DATA_PERIOD period,
                              simconnect::SIMCONNECT_CLIENT_DATA_REQUEST_FLAG flags, DWORD origin,
                              DWORD interval, DWORD limit) override;
    HRESULT setClientData(HANDLE handle, simconnect::SIMCONNECT_CLIENT_DATA_ID clientDataId,
                          simconnect::SIMCONNECT_CLIENT_DATA_DEFINITION_ID defineId,
                          simconnect::SIMCONNECT_CLIENT_DATA_SET_FLAG flags, DWORD reserved,
                          DWORD unitSize, void* data) override;
    HRESULT createClientData(HANDLE handle, simconnect::SIMCONNECT_CLIENT_DATA_ID clientDataId,
                             DWORD size,
                             simconnect::SIMCONNECT_CREATE_CLIENT_DATA_FLAG flags) override;
    HRESULT getLastSentPacketId(HANDLE handle, DWORD* sendId) override;
    HRESULT clearDataDefinition(HANDLE handle,
                                simconnect::SIMCONNECT_DATA_DEFINITION_ID defineId) override;
    HRESULT subscribeToSystemEvent(HANDLE handle, simconnect::SIMCONNECT_CLIENT_EVENT_ID eventId,
                                   const char* systemEventName) override;
    HRESULT unsubscribeFromSystemEvent(HANDLE handle,
                                       simconnect::SIMCONNECT_CLIENT_EVENT_ID eventId) override;
    HRESULT requestSystemState(HANDLE handle, simconnect::SIMCONNECT_DATA_REQUEST_ID requestId,
                               const char* state) override;

    NetworkLibrary(const NetworkLibrary&) = delete;
    NetworkLibrary& operator=(const NetworkLibrary&) = delete;

private:
    std::shared_ptr<ClientConnection> find(HANDLE handle) EXCLUDES(lock_);
    HRESULT sendCall(HANDLE handle, const Call& call) EXCLUDES(lock_);

    const std::optional<Endpoint> endpoint_;
    const ClientConnection::Options options_;
    Mutex lock_;
    std::unordered_map<HANDLE, std::shared_ptr<ClientConnection>> live_ GUARDED_BY(lock_);
};

}  // namespace simnet
