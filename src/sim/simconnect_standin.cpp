// libSimConnect.so: the Linux stand-in for SimConnect.dll. There is no
// flight simulator on Linux, so opening a connection fails the way the real
// library does when no simulator runs (E_FAIL), and the program waits and
// retries as it would on Windows. The other functions never see a handle;
// they fail the same way should anyone call them.

#include "sim/simconnect_api.h"

namespace simconnect {

extern "C" {

HRESULT SIMCONNECT_CALL SimConnect_Open(HANDLE* phSimConnect, LPCSTR, HWND, DWORD, HANDLE, DWORD) {
    if (phSimConnect) *phSimConnect = nullptr;
    return E_FAIL_RESULT;
}

HRESULT SIMCONNECT_CALL SimConnect_Close(HANDLE) {
    return E_FAIL_RESULT;
}

HRESULT SIMCONNECT_CALL SimConnect_CallDispatch(HANDLE, DispatchProc, void*) {
    return E_FAIL_RESULT;
}

HRESULT SIMCONNECT_CALL SimConnect_AddToDataDefinition(HANDLE, SIMCONNECT_DATA_DEFINITION_ID,
                                                       const char*, const char*,
                                                       SIMCONNECT_DATATYPE, float, DWORD) {
    return E_FAIL_RESULT;
}

HRESULT SIMCONNECT_CALL SimConnect_RequestDataOnSimObject(HANDLE, SIMCONNECT_DATA_REQUEST_ID,
                                                          SIMCONNECT_DATA_DEFINITION_ID,
                                                          SIMCONNECT_OBJECT_ID, SIMCONNECT_PERIOD,
                                                          SIMCONNECT_DATA_REQUEST_FLAG, DWORD,
                                                          DWORD, DWORD) {
    return E_FAIL_RESULT;
}

HRESULT SIMCONNECT_CALL SimConnect_MapClientEventToSimEvent(HANDLE, SIMCONNECT_CLIENT_EVENT_ID,
                                                            const char*) {
    return E_FAIL_RESULT;
}

HRESULT SIMCONNECT_CALL SimConnect_TransmitClientEvent(HANDLE, SIMCONNECT_OBJECT_ID,
                                                       SIMCONNECT_CLIENT_EVENT_ID, DWORD,
                                                       SIMCONNECT_NOTIFICATION_GROUP_ID,
                                                       SIMCONNECT_EVENT_FLAG) {
    return E_FAIL_RESULT;
}

HRESULT SIMCONNECT_CALL SimConnect_MapClientDataNameToID(HANDLE, const char*,
                                                         SIMCONNECT_CLIENT_DATA_ID) {
    return E_FAIL_RESULT;
}

HRESULT SIMCONNECT_CALL SimConnect_AddToClientDataDefinition(HANDLE,
                                                             SIMCONNECT_CLIENT_DATA_DEFINITION_ID,
                                                             DWORD, DWORD, float, DWORD) {
    return E_FAIL_RESULT;
}

HRESULT SIMCONNECT_CALL SimConnect_RequestClientData(HANDLE, SIMCONNECT_CLIENT_DATA_ID,
                                                     SIMCONNECT_DATA_REQUEST_ID,
                                                     SIMCONNECT_CLIENT_DATA_DEFINITION_ID,
                                                     SIMCONNECT_CLIENT_DATA_PERIOD,
                                                     SIMCONNECT_CLIENT_DATA_REQUEST_FLAG, DWORD,
                                                     DWORD, DWORD) {
    return E_FAIL_RESULT;
}

HRESULT SIMCONNECT_CALL SimConnect_SetClientData(HANDLE, SIMCONNECT_CLIENT_DATA_ID,
                                                 SIMCONNECT_CLIENT_DATA_DEFINITION_ID,
                                                 SIMCONNECT_CLIENT_DATA_SET_FLAG, DWORD, DWORD,
                                                 void*) {
    return E_FAIL_RESULT;
}

HRESULT SIMCONNECT_CALL SimConnect_CreateClientData(HANDLE, SIMCONNECT_CLIENT_DATA_ID, DWORD,
                                                    SIMCONNECT_CREATE_CLIENT_DATA_FLAG) {
    return E_FAIL_RESULT;
}

HRESULT SIMCONNECT_CALL SimConnect_GetLastSentPacketID(HANDLE, DWORD* pdwSendID) {
    if (pdwSendID) *pdwSendID = 0;
    return E_FAIL_RESULT;
}

}  // extern "C"

}  // namespace simconnect
