// Linked with the SimConnect functions of the in-process emulator.
#include "sim/simconnect_provider.h"

SimConnectProvider linkedSimConnectProvider() {
    return SimConnectProvider::Emulator;
}
