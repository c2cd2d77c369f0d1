#pragma once

#include "emulation/sim_emulator.h"
#include "sim/simconnect_library.h"

// The SimConnect functions acting on one SimEmulator in-process: what the
// sandbox and the tests hand the program instead of a network client or
// SimConnect.dll. Parameters the emulator has no use for (epsilons, datum
// ids, origin/interval/limit, reserved words) are accepted and ignored.
// Threads: as the emulator's; the emulator must outlive this object.
class EmulatorLibrary final : public simconnect::Library {
public:
    explicit EmulatorLibrary(SimEmulator& sim) : sim_(sim) {}

    std::string describe() const override { return "simulator emulator, in-process"; }

    using HRESULT = simconnect::HRESULT;
    using HANDLE = simconnect::HANDLE;
    using DWORD = simconnect::DWORD;

    HRESULT open(HANDLE* handle, const char* name) override { return sim_.open(handle, name); }
    HRESULT close(HANDLE handle) override { return sim_.close(handle); }
    HRESULT callDispatch(HANDLE handle, simconnect::DispatchProc dispatch, void* context) override {
        return sim_.callDispatch(handle, dispatch, context);
    }
    HRESULT addToDataDefinition(HANDLE handle, DWORD defineId, const char* datumName, const char*,
                                simconnect::SIMCONNECT_DATATYPE datumType, float, DWORD) override {
        return sim_.addToDataDefinition(handle, defineId, datumName, datumType);
    }
    HRESULT requestDataOnSimObject(HANDLE handle, DWORD requestId, DWORD defineId, DWORD,
                                   simconnect::SIMCONNECT_PERIOD period, DWORD flags, DWORD, DWORD,
                                   DWORD) override {
        return sim_.requestDataOnSimObject(handle, requestId, defineId, period, flags);
    }
    HRESULT mapClientEventToSimEvent(HANDLE handle, DWORD eventId, const char* eventName) override {
        return sim_.mapClientEventToSimEvent(handle, eventId, eventName);
    }
    HRESULT transmitClientEvent(HANDLE handle, DWORD, DWORD eventId, DWORD data, DWORD groupId,
                                DWORD flags) override {
        return sim_.transmitClientEvent(handle, eventId, data, groupId, flags);
    }
    HRESULT mapClientDataNameToId(HANDLE handle, const char* name, DWORD clientDataId) override {
        return sim_.mapClientDataNameToId(handle, name, clientDataId);
    }
    HRESULT addToClientDataDefinition(HANDLE handle, DWORD defineId, DWORD offset, DWORD sizeOrType,
                                      float, DWORD) override {
        return sim_.addToClientDataDefinition(handle, defineId, offset, sizeOrType);
    }
    HRESULT requestClientData(HANDLE handle, DWORD clientDataId, DWORD requestId, DWORD defineId,
                              simconnect::SIMCONNECT_CLIENT_DATA_PERIOD period, DWORD flags, DWORD,
                              DWORD, DWORD) override {
        return sim_.requestClientData(handle, clientDataId, requestId, defineId, period, flags);
    }
    HRESULT setClientData(HANDLE handle, DWORD clientDataId, DWORD defineId, DWORD, DWORD,
                          DWORD unitSize, void* data) override {
        return sim_.setClientData(handle, clientDataId, defineId, unitSize, data);
    }
    HRESULT createClientData(HANDLE handle, DWORD clientDataId, DWORD size, DWORD flags) override {
        return sim_.createClientData(handle, clientDataId, size, flags);
    }
    HRESULT getLastSentPacketId(HANDLE handle, DWORD* sendId) override {
        return sim_.getLastSentPacketId(handle, sendId);
    }
    HRESULT clearDataDefinition(HANDLE handle, DWORD defineId) override {
        return sim_.clearDataDefinition(handle, defineId);
    }
    HRESULT subscribeToSystemEvent(HANDLE handle, DWORD eventId, const char* name) override {
        return sim_.subscribeToSystemEvent(handle, eventId, name);
    }
    HRESULT unsubscribeFromSystemEvent(HANDLE handle, DWORD eventId) override {
        return sim_.unsubscribeFromSystemEvent(handle, eventId);
    }
    HRESULT requestSystemState(HANDLE handle, DWORD requestId, const char* state) override {
        return sim_.requestSystemState(handle, requestId, state);
    }

private:
    SimEmulator& sim_;
};
