#pragma once

#include <string>

#include "sim/simconnect_api.h"

namespace simconnect {

// One implementation of the SimConnect functions the program uses, chosen
// when the program runs: the built-in network client (src/simnet), the
// SDK's SimConnect.dll loaded at run time (sim/simconnect_sdk_library.h),
// or the simulator emulator in-process (tests, sandbox). The methods are
// the SDK's functions of the same names with the same parameters and
// results; the open's window, event handle and configuration index are the
// SDK's defaults (none, none, 0), which is all the program ever passes.
//
// A handle belongs to the library that opened it. Threads: as the SDK's
// library, any thread; calls on one handle may overlap, but Close must not
// overlap another call on its handle (the SimConnect client guarantees
// that). Failures are the HRESULTs the SDK would return.
//
// A further SimConnect function is added here, to the SDK loader's table
// (simconnect_sdk_library.cpp), to the network client and its codec
// (simnet/codec.h), to the emulator with its library and its network front
// (emulation/emulator_library.h, simulator/emulator_front.cpp) and to the
// drop-in exports (simconnect_dropin_exports.cpp with SimConnect.def).
class Library {
public:
    virtual ~Library() = default;

    // What the program talks to, for the log and --check: "built-in client,
    // TCP 192.168.1.20:500", "SimConnect.dll at C:\...", "simulator emulator".
    virtual std::string describe() const = 0;

    virtual HRESULT open(HANDLE* handle, const char* name) = 0;
    virtual HRESULT close(HANDLE handle) = 0;
    virtual HRESULT callDispatch(HANDLE handle, DispatchProc dispatch, void* context) = 0;
    virtual HRESULT addToDataDefinition(HANDLE handle, SIMCONNECT_DATA_DEFINITION_ID defineId,
                                        const char* datumName, const char* unitsName,
                                        SIMCONNECT_DATATYPE datumType, float epsilon,
                                        DWORD datumId) = 0;
    virtual HRESULT requestDataOnSimObject(HANDLE handle, SIMCONNECT_DATA_REQUEST_ID requestId,
                                           SIMCONNECT_DATA_DEFINITION_ID defineId,
                                           SIMCONNECT_OBJECT_ID objectId, SIMCONNECT_PERIOD period,
                                           SIMCONNECT_DATA_REQUEST_FLAG flags, DWORD origin,
                                           DWORD interval, DWORD limit) = 0;
    virtual HRESULT mapClientEventToSimEvent(HANDLE handle, SIMCONNECT_CLIENT_EVENT_ID eventId,
                                             const char* eventName) = 0;
    virtual HRESULT transmitClientEvent(HANDLE handle, SIMCONNECT_OBJECT_ID objectId,
                                        SIMCONNECT_CLIENT_EVENT_ID eventId, DWORD data,
                                        SIMCONNECT_NOTIFICATION_GROUP_ID groupId,
                                        SIMCONNECT_EVENT_FLAG flags) = 0;
    virtual HRESULT mapClientDataNameToId(HANDLE handle, const char* clientDataName,
                                          SIMCONNECT_CLIENT_DATA_ID clientDataId) = 0;
    virtual HRESULT addToClientDataDefinition(HANDLE handle,
                                              SIMCONNECT_CLIENT_DATA_DEFINITION_ID defineId,
                                              DWORD offset, DWORD sizeOrType, float epsilon,
                                              DWORD datumId) = 0;
    virtual HRESULT requestClientData(HANDLE handle, SIMCONNECT_CLIENT_DATA_ID clientDataId,
                                      SIMCONNECT_DATA_REQUEST_ID requestId,
                                      SIMCONNECT_CLIENT_DATA_DEFINITION_ID defineId,
                                      SIMCONNECT_CLIENT_DATA_PERIOD period,
                                      SIMCONNECT_CLIENT_DATA_REQUEST_FLAG flags, DWORD origin,
                                      DWORD interval, DWORD limit) = 0;
    virtual HRESULT setClientData(HANDLE handle, SIMCONNECT_CLIENT_DATA_ID clientDataId,
                                  SIMCONNECT_CLIENT_DATA_DEFINITION_ID defineId,
                                  SIMCONNECT_CLIENT_DATA_SET_FLAG flags, DWORD reserved,
                                  DWORD unitSize, void* data) = 0;
    virtual HRESULT createClientData(HANDLE handle, SIMCONNECT_CLIENT_DATA_ID clientDataId,
                                     DWORD size, SIMCONNECT_CREATE_CLIENT_DATA_FLAG flags) = 0;
    virtual HRESULT getLastSentPacketId(HANDLE handle, DWORD* sendId) = 0;
    virtual HRESULT clearDataDefinition(HANDLE handle, SIMCONNECT_DATA_DEFINITION_ID defineId) = 0;
    virtual HRESULT subscribeToSystemEvent(HANDLE handle, SIMCONNECT_CLIENT_EVENT_ID eventId,
                                           const char* systemEventName) = 0;
    virtual HRESULT unsubscribeFromSystemEvent(HANDLE handle,
                                               SIMCONNECT_CLIENT_EVENT_ID eventId) = 0;
    virtual HRESULT requestSystemState(HANDLE handle, SIMCONNECT_DATA_REQUEST_ID requestId,
                                       const char* state) = 0;
};

}  // namespace simconnect
