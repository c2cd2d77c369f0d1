// A library named like SimConnect.dll that exports only SimConnect_Open:
// what a wrong file of that name looks like to the program.
#include "sim/simconnect_api.h"

namespace simconnect {

extern "C" HRESULT SIMCONNECT_CALL SimConnect_Open(HANDLE* phSimConnect, LPCSTR, HWND, DWORD,
                                                   HANDLE, DWORD) {
    if (phSimConnect) *phSimConnect = nullptr;
    return E_FAIL_RESULT;
}

}  // namespace simconnect
