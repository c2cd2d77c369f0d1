// Linked with the SimConnect functions of the network client.
#include "sim/simconnect_provider.h"

SimConnectProvider linkedSimConnectProvider() {
    return SimConnectProvider::NetworkClient;
}
