// The SDK's exported C functions, each forwarded to the drop-in's Library.
// Only the drop-in libraries compile this file.
#include "sim/simconnect_api.h"
#include "sim/simconnect_dropin.h"

namespace simconnect {

extern "C" {

HRESULT SIMCONNECT_CALL SimConnect_Open(HANDLE* phSimConnect, LPCSTR szName, HWND, DWORD, HANDLE,
                                        DWORD) {
    return dropInLibrary().open(phSimConnect, szName);
}

HRESULT SIMCONNECT_CALL SimConnect_Close(HANDLE hSimConnect) {
    return dropInLibrary().close(hSimConnect);
}

HRESULT SIMCONNECT_CALL SimConnect_CallDispatch(HANDLE hSimConnect, DispatchProc pfcnDispatch,
                                                void* pContext) {
    return dropInLibrary().callDispatch(hSimConnect, pfcnDispatch, pContext);
}

HRESULT SIMCONNECT_CALL SimConnect_AddToDataDefinition(HANDLE hSimConnect,
                                                       SIMCONNECT_DATA_DEFINITION_ID DefineID,
                                                       const char* DatumName, const char* UnitsName,
                                                       SIMCONNECT_DATATYPE DatumType,
                                                       float fEpsilon, DWORD DatumID) {
    return dropInLibrary().addToDataDefinition(hSimConnect, DefineID, DatumName, UnitsName,
                                               DatumType, fEpsilon, DatumID);
}

HRESULT SIMCONNECT_CALL SimConnect_RequestDataOnSimObject(
    HANDLE hSimConnect, SIMCONNECT_DATA_REQUEST_ID RequestID,
    SIMCONNECT_DATA_DEFINITION_ID DefineID, SIMCONNECT_OBJECT_ID ObjectID, SIMCONNECT_PERIOD Period,
    SIMCONNECT_DATA_REQUEST_FLAG Flags, DWORD origin, DWORD interval, DWORD limit) {
    return dropInLibrary().requestDataOnSimObject(hSimConnect, RequestID, DefineID, ObjectID,
                                                  Period, Flags, origin, interval, limit);
}

HRESULT SIMCONNECT_CALL SimConnect_MapClientEventToSimEvent(HANDLE hSimConnect,
                                                            SIMCONNECT_CLIENT_EVENT_ID EventID,
                                                            const char* EventName) {
    return dropInLibrary().mapClientEventToSimEvent(hSimConnect, EventID, EventName);
}

HRESULT SIMCONNECT_CALL SimConnect_TransmitClientEvent(
    HANDLE hSimConnect, SIMCONNECT_OBJECT_ID ObjectID, SIMCONNECT_CLIENT_EVENT_ID EventID,
    DWORD dwData, SIMCONNECT_NOTIFICATION_GROUP_ID GroupID, SIMCONNECT_EVENT_FLAG Flags) {
    return dropInLibrary().transmitClientEvent(hSimConnect, ObjectID, EventID, dwData, GroupID,
                                               Flags);
}

HRESULT SIMCONNECT_CALL SimConnect_MapClientDataNameToID(HANDLE hSimConnect,
                                                         const char* szClientDataName,
                                                         SIMCONNECT_CLIENT_DATA_ID ClientDataID) {
    return dropInLibrary().mapClientDataNameToId(hSimConnect, szClientDataName, ClientDataID);
}

HRESULT SIMCONNECT_CALL SimConnect_AddToClientDataDefinition(
    HANDLE hSimConnect, SIMCONNECT_CLIENT_DATA_DEFINITION_ID DefineID, DWORD dwOffset,
    DWORD dwSizeOrType, float fEpsilon, DWORD DatumID) {
    return dropInLibrary().addToClientDataDefinition(hSimConnect, DefineID, dwOffset, dwSizeOrType,
                                                     fEpsilon, DatumID);
}

HRESULT SIMCONNECT_CALL SimConnect_RequestClientData(HANDLE hSimConnect,
                                                     SIMCONNECT_CLIENT_DATA_ID ClientDataID,
                                                     SIMCONNECT_DATA_REQUEST_ID RequestID,
                                                     SIMCONNECT_CLIENT_DATA_DEFINITION_ID DefineID,
                                                     SIMCONNECT_CLIENT_DATA_PERIOD Period,
                                                     SIMCONNECT_CLIENT_DATA_REQUEST_FLAG Flags,
                                                     DWORD origin, DWORD interval, DWORD limit) {
    return dropInLibrary().requestClientData(hSimConnect, ClientDataID, RequestID, DefineID, Period,
                                             Flags, origin, interval, limit);
}

HRESULT SIMCONNECT_CALL SimConnect_SetClientData(HANDLE hSimConnect,
                                                 SIMCONNECT_CLIENT_DATA_ID ClientDataID,
                                                 SIMCONNECT_CLIENT_DATA_DEFINITION_ID DefineID,
                                                 SIMCONNECT_CLIENT_DATA_SET_FLAG Flags,
                                                 DWORD dwReserved, DWORD cbUnitSize,
                                                 void* pDataSet) {
    return dropInLibrary().setClientData(hSimConnect, ClientDataID, DefineID, Flags, dwReserved,
                                         cbUnitSize, pDataSet);
}

HRESULT SIMCONNECT_CALL SimConnect_CreateClientData(HANDLE hSimConnect,
                                                    SIMCONNECT_CLIENT_DATA_ID ClientDataID,
                                                    DWORD dwSize,
                                                    SIMCONNECT_CREATE_CLIENT_DATA_FLAG Flags) {
    return dropInLibrary().createClientData(hSimConnect, ClientDataID, dwSize, Flags);
}

HRESULT SIMCONNECT_CALL SimConnect_GetLastSentPacketID(HANDLE hSimConnect, DWORD* pdwSendID) {
    return dropInLibrary().getLastSentPacketId(hSimConnect, pdwSendID);
}

HRESULT SIMCONNECT_CALL SimConnect_ClearDataDefinition(HANDLE hSimConnect,
                                                       SIMCONNECT_DATA_DEFINITION_ID DefineID) {
    return dropInLibrary().clearDataDefinition(hSimConnect, DefineID);
}

HRESULT SIMCONNECT_CALL SimConnect_SubscribeToSystemEvent(HANDLE hSimConnect,
                                                          SIMCONNECT_CLIENT_EVENT_ID EventID,
                                                          const char* SystemEventName) {
    return dropInLibrary().subscribeToSystemEvent(hSimConnect, EventID, SystemEventName);
}

HRESULT SIMCONNECT_CALL SimConnect_UnsubscribeFromSystemEvent(HANDLE hSimConnect,
                                                              SIMCONNECT_CLIENT_EVENT_ID EventID) {
    return dropInLibrary().unsubscribeFromSystemEvent(hSimConnect, EventID);
}

HRESULT SIMCONNECT_CALL SimConnect_RequestSystemState(HANDLE hSimConnect,
                                                      SIMCONNECT_DATA_REQUEST_ID RequestID,
                                                      const char* szState) {
    return dropInLibrary().requestSystemState(hSimConnect, RequestID, szState);
}

}  // extern "C"

}  // namespace simconnect
