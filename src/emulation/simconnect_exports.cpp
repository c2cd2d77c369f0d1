// The SimConnect functions, acting on the installed SimEmulator in-process
// (corvane_sim_emulation; the emulator core defines none of them). Parameters
// the emulator has no use for (window, event handle, epsilons, datum ids,
// origin/interval/limit, reserved words) are accepted and ignored.

#include "emulation/sim_emulator.h"
#include "sim/simconnect_api.h"

namespace simconnect {

namespace {

SimEmulator* emulator() {
    return SimEmulator::installed();
}

}  // namespace

extern "C" {

HRESULT SIMCONNECT_CALL SimConnect_Open(HANDLE* phSimConnect, LPCSTR szName, HWND, DWORD, HANDLE,
                                        DWORD) {
    SimEmulator* sim = emulator();
    if (!sim) {
        if (phSimConnect) *phSimConnect = nullptr;
        return E_FAIL_RESULT;
    }
    return sim->open(phSimConnect, szName);
}

HRESULT SIMCONNECT_CALL SimConnect_Close(HANDLE hSimConnect) {
    SimEmulator* sim = emulator();
    return sim ? sim->close(hSimConnect) : E_FAIL_RESULT;
}

HRESULT SIMCONNECT_CALL SimConnect_CallDispatch(HANDLE hSimConnect, DispatchProc pfcnDispatch,
                                                void* pContext) {
    SimEmulator* sim = emulator();
    return sim ? sim->callDispatch(hSimConnect, pfcnDispatch, pContext) : E_FAIL_RESULT;
}

HRESULT SIMCONNECT_CALL SimConnect_AddToDataDefinition(HANDLE hSimConnect,
                                                       SIMCONNECT_DATA_DEFINITION_ID DefineID,
                                                       const char* DatumName, const char*,
                                                       SIMCONNECT_DATATYPE DatumType, float,
                                                       DWORD) {
    SimEmulator* sim = emulator();
    return sim ? sim->addToDataDefinition(hSimConnect, DefineID, DatumName, DatumType)
               : E_FAIL_RESULT;
}

HRESULT SIMCONNECT_CALL SimConnect_RequestDataOnSimObject(
    HANDLE hSimConnect, SIMCONNECT_DATA_REQUEST_ID RequestID,
    SIMCONNECT_DATA_DEFINITION_ID DefineID, SIMCONNECT_OBJECT_ID, SIMCONNECT_PERIOD Period,
    SIMCONNECT_DATA_REQUEST_FLAG Flags, DWORD, DWORD, DWORD) {
    SimEmulator* sim = emulator();
    return sim ? sim->requestDataOnSimObject(hSimConnect, RequestID, DefineID, Period, Flags)
               : E_FAIL_RESULT;
}

HRESULT SIMCONNECT_CALL SimConnect_MapClientEventToSimEvent(HANDLE hSimConnect,
                                                            SIMCONNECT_CLIENT_EVENT_ID EventID,
                                                            const char* EventName) {
    SimEmulator* sim = emulator();
    return sim ? sim->mapClientEventToSimEvent(hSimConnect, EventID, EventName) : E_FAIL_RESULT;
}

HRESULT SIMCONNECT_CALL SimConnect_TransmitClientEvent(HANDLE hSimConnect, SIMCONNECT_OBJECT_ID,
                                                       SIMCONNECT_CLIENT_EVENT_ID EventID,
                                                       DWORD dwData,
                                                       SIMCONNECT_NOTIFICATION_GROUP_ID GroupID,
                                                       SIMCONNECT_EVENT_FLAG Flags) {
    SimEmulator* sim = emulator();
    return sim ? sim->transmitClientEvent(hSimConnect, EventID, dwData, GroupID, Flags)
               : E_FAIL_RESULT;
}

HRESULT SIMCONNECT_CALL SimConnect_MapClientDataNameToID(HANDLE hSimConnect,
                                                         const char* szClientDataName,
                                                         SIMCONNECT_CLIENT_DATA_ID ClientDataID) {
    SimEmulator* sim = emulator();
    return sim ? sim->mapClientDataNameToId(hSimConnect, szClientDataName, ClientDataID)
               : E_FAIL_RESULT;
}

HRESULT SIMCONNECT_CALL SimConnect_AddToClientDataDefinition(
    HANDLE hSimConnect, SIMCONNECT_CLIENT_DATA_DEFINITION_ID DefineID, DWORD dwOffset,
    DWORD dwSizeOrType, float, DWORD) {
    SimEmulator* sim = emulator();
    return sim ? sim->addToClientDataDefinition(hSimConnect, DefineID, dwOffset, dwSizeOrType)
               : E_FAIL_RESULT;
}

HRESULT SIMCONNECT_CALL SimConnect_RequestClientData(HANDLE hSimConnect,
                                                     SIMCONNECT_CLIENT_DATA_ID ClientDataID,
                                                     SIMCONNECT_DATA_REQUEST_ID RequestID,
                                                     SIMCONNECT_CLIENT_DATA_DEFINITION_ID DefineID,
                                                     SIMCONNECT_CLIENT_DATA_PERIOD Period,
                                                     SIMCONNECT_CLIENT_DATA_REQUEST_FLAG Flags,
                                                     DWORD, DWORD, DWORD) {
    SimEmulator* sim = emulator();
    return sim ? sim->requestClientData(hSimConnect, ClientDataID, RequestID, DefineID, Period,
                                        Flags)
               : E_FAIL_RESULT;
}

HRESULT SIMCONNECT_CALL SimConnect_SetClientData(HANDLE hSimConnect,
                                                 SIMCONNECT_CLIENT_DATA_ID ClientDataID,
                                                 SIMCONNECT_CLIENT_DATA_DEFINITION_ID DefineID,
                                                 SIMCONNECT_CLIENT_DATA_SET_FLAG, DWORD,
                                                 DWORD cbUnitSize, void* pDataSet) {
    SimEmulator* sim = emulator();
    return sim ? sim->setClientData(hSimConnect, ClientDataID, DefineID, cbUnitSize, pDataSet)
               : E_FAIL_RESULT;
}

HRESULT SIMCONNECT_CALL SimConnect_CreateClientData(HANDLE hSimConnect,
                                                    SIMCONNECT_CLIENT_DATA_ID ClientDataID,
                                                    DWORD dwSize,
                                                    SIMCONNECT_CREATE_CLIENT_DATA_FLAG Flags) {
    SimEmulator* sim = emulator();
    return sim ? sim->createClientData(hSimConnect, ClientDataID, dwSize, Flags) : E_FAIL_RESULT;
}

HRESULT SIMCONNECT_CALL SimConnect_GetLastSentPacketID(HANDLE hSimConnect, DWORD* pdwSendID) {
    SimEmulator* sim = emulator();
    if (!sim) {
        if (pdwSendID) *pdwSendID = 0;
        return E_FAIL_RESULT;
    }
    return sim->getLastSentPacketId(hSimConnect, pdwSendID);
}

}  // extern "C"

}  // namespace simconnect
