// Linked with the import library of the SDK's SimConnect.dll.
#include "sim/simconnect_provider.h"

SimConnectProvider linkedSimConnectProvider() {
    return SimConnectProvider::SdkLibrary;
}
