#include "sim/simconnect_sdk_library.h"

#include <filesystem>
#include <system_error>

#include "platform/paths.h"
#include "platform/shared_library.h"

namespace simconnect {

namespace {

// Every function the program takes from the library, by the name it exports.
#define CORVANE_SDK_FUNCTIONS(X)                                                                   \
    X(Open)                                                                                        \
    X(Close) X(CallDispatch) X(AddToDataDefinition) X(RequestDataOnSimObject)                      \
        X(MapClientEventToSimEvent) X(TransmitClientEvent) X(MapClientDataNameToID)                \
            X(AddToClientDataDefinition) X(RequestClientData) X(SetClientData) X(CreateClientData) \
                X(GetLastSentPacketID) X(ClearDataDefinition) X(SubscribeToSystemEvent)      \
                    X(UnsubscribeFromSystemEvent) X(RequestSystemState)

struct Functions {
#define CORVANE_FIELD(name) decltype(&SimConnect_##name) name = nullptr;
    CORVANE_SDK_FUNCTIONS(CORVANE_FIELD)
#undef CORVANE_FIELD
};

#define CORVANE_COUNT(name) +1
constexpr std::size_t kFunctionCount = 0 CORVANE_SDK_FUNCTIONS(CORVANE_COUNT);
#undef CORVANE_COUNT

constexpr const char* kWhatToDo =
    "copy SimConnect.dll from the simulator SDK's folder \"SimConnect SDK\\lib\" beside the "
    "program, or remove simulator.client from the configuration to use the built-in client";

template <typename Function>
bool bind(const platform::SharedLibrary& library, const char* name, Function& function,
          std::string& missing) {
    void* address = library.symbol(std::string("SimConnect_") + name);
    if (!address) {
        missing += (missing.empty() ? "SimConnect_" : ", SimConnect_") + std::string(name);
        return false;
    }
    function = reinterpret_cast<Function>(address);
    return true;
}

// The SDK's functions behind the interface. The library stays loaded as
// long as this object lives.
class SdkLibrary final : public Library {
public:
    SdkLibrary(std::unique_ptr<platform::SharedLibrary> file, const Functions& functions)
        : file_(std::move(file)), f_(functions) {}

    std::string describe() const override { return "SimConnect.dll at " + file_->filePath(); }

    HRESULT open(HANDLE* handle, const char* name) override {
        return f_.Open(handle, name, nullptr, 0, nullptr, 0);
    }
    HRESULT close(HANDLE handle) override { return f_.Close(handle); }
    HRESULT callDispatch(HANDLE handle, DispatchProc dispatch, void* context) override {
        return f_.CallDispatch(handle, dispatch, context);
    }
    HRESULT addToDataDefinition(HANDLE handle, SIMCONNECT_DATA_DEFINITION_ID defineId,
                                const char* datumName, const char* unitsName,
                                SIMCONNECT_DATATYPE datumType, float epsilon,
                                DWORD datumId) override {
        return f_.AddToDataDefinition(handle, defineId, datumName, unitsName, datumType, epsilon,
                                      datumId);
    }
    HRESULT requestDataOnSimObject(HANDLE handle, SIMCONNECT_DATA_REQUEST_ID requestId,
                                   SIMCONNECT_DATA_DEFINITION_ID defineId,
                                   SIMCONNECT_OBJECT_ID objectId, SIMCONNECT_PERIOD period,
                                   SIMCONNECT_DATA_REQUEST_FLAG flags, DWORD origin, DWORD interval,
                                   DWORD limit) override {
        return f_.RequestDataOnSimObject(handle, requestId, defineId, objectId, period, flags,
                                         origin, interval, limit);
    }
    HRESULT mapClientEventToSimEvent(HANDLE handle, SIMCONNECT_CLIENT_EVENT_ID eventId,
                                     const char* eventName) override {
        return f_.MapClientEventToSimEvent(handle, eventId, eventName);
    }
    HRESULT transmitClientEvent(HANDLE handle, SIMCONNECT_OBJECT_ID objectId,
                                SIMCONNECT_CLIENT_EVENT_ID eventId, DWORD data,
                                SIMCONNECT_NOTIFICATION_GROUP_ID groupId,
                                SIMCONNECT_EVENT_FLAG flags) override {
        return f_.TransmitClientEvent(handle, objectId, eventId, data, groupId, flags);
    }
    HRESULT mapClientDataNameToId(HANDLE handle, const char* clientDataName,
                                  SIMCONNECT_CLIENT_DATA_ID clientDataId) override {
        return f_.MapClientDataNameToID(handle, clientDataName, clientDataId);
    }
    HRESULT addToClientDataDefinition(HANDLE handle, SIMCONNECT_CLIENT_DATA_DEFINITION_ID defineId,
                                      DWORD offset, DWORD sizeOrType, float epsilon,
                                      DWORD datumId) override {
        return f_.AddToClientDataDefinition(handle, defineId, offset, sizeOrType, epsilon, datumId);
    }
    HRESULT requestClientData(HANDLE handle, SIMCONNECT_CLIENT_DATA_ID clientDataId,
                              SIMCONNECT_DATA_REQUEST_ID requestId,
                              SIMCONNECT_CLIENT_DATA_DEFINITION_ID defineId,
                              SIMCONNECT_CLIENT_DATA_PERIOD period,
                              SIMCONNECT_CLIENT_DATA_REQUEST_FLAG flags, DWORD origin,
                              DWORD interval, DWORD limit) override {
        return f_.RequestClientData(handle, clientDataId, requestId, defineId, period, flags,
                                    origin, interval, limit);
    }
    HRESULT setClientData(HANDLE handle, SIMCONNECT_CLIENT_DATA_ID clientDataId,
                          SIMCONNECT_CLIENT_DATA_DEFINITION_ID defineId,
                          SIMCONNECT_CLIENT_DATA_SET_FLAG flags, DWORD reserved, DWORD unitSize,
                          void* data) override {
        return f_.SetClientData(handle, clientDataId, defineId, flags, reserved, unitSize, data);
    }
    HRESULT createClientData(HANDLE handle, SIMCONNECT_CLIENT_DATA_ID clientDataId, DWORD size,
                             SIMCONNECT_CREATE_CLIENT_DATA_FLAG flags) override {
        return f_.CreateClientData(handle, clientDataId, size, flags);
    }
    HRESULT getLastSentPacketId(HANDLE handle, DWORD* sendId) override {
        return f_.GetLastSentPacketID(handle, sendId);
    }
    HRESULT clearDataDefinition(HANDLE handle, SIMCONNECT_DATA_DEFINITION_ID defineId) override {
        return f_.ClearDataDefinition(handle, defineId);
    }
    HRESULT subscribeToSystemEvent(HANDLE handle, SIMCONNECT_CLIENT_EVENT_ID eventId,
                                   const char* systemEventName) override {
        return f_.SubscribeToSystemEvent(handle, eventId, systemEventName);
    }
    HRESULT unsubscribeFromSystemEvent(HANDLE handle, SIMCONNECT_CLIENT_EVENT_ID eventId) override {
        return f_.UnsubscribeFromSystemEvent(handle, eventId);
    }
    HRESULT requestSystemState(HANDLE handle, SIMCONNECT_DATA_REQUEST_ID requestId,
                               const char* state) override {
        return f_.RequestSystemState(handle, requestId, state);
    }

private:
    std::unique_ptr<platform::SharedLibrary> file_;
    Functions f_;
};

bool isFile(const std::string& path) {
    std::error_code ec;
    return std::filesystem::is_regular_file(platform::toPath(path), ec);
}

}  // namespace

std::string sdkLibraryFileName() {
    return platform::sharedLibraryFileName("SimConnect");
}

std::size_t sdkFunctionCount() {
    return kFunctionCount;
}

SdkLoad loadSdkLibrary(const std::string& programFolder) {
    SdkLoad load;
    const std::string fileName = sdkLibraryFileName();
    const std::string beside =
        programFolder.empty() ? std::string() : platform::joinPath(programFolder, fileName);
    const bool found = !beside.empty() && isFile(beside);
    load.path = found ? beside : fileName;
    std::string error;
    std::unique_ptr<platform::SharedLibrary> file = platform::loadSharedLibrary(load.path, error);
    if (!file) {
        load.error = found ? beside + " does not load (" + error +
                                 "); it needs the Microsoft Visual C++ runtime (x64), which the "
                                 "simulator installs; else " +
                                 kWhatToDo
                           : fileName + " not found beside the program" +
                                 (beside.empty() ? "" : " (" + beside + ")") +
                                 " nor on the system's search path; " + kWhatToDo;
        return load;
    }
    load.path = file->filePath().empty() ? load.path : file->filePath();
    Functions functions;
    std::string missing;
#define CORVANE_BIND(name) bind(*file, #name, functions.name, missing);
    CORVANE_SDK_FUNCTIONS(CORVANE_BIND)
#undef CORVANE_BIND
    if (!missing.empty()) {
        load.error =
            load.path + " lacks " + missing + ", so it is not the simulator's; " + kWhatToDo;
        return load;
    }
    load.library = std::make_unique<SdkLibrary>(std::move(file), functions);
    return load;
}

}  // namespace simconnect
