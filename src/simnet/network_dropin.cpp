// The network client as a drop-in SimConnect library: like the SDK's, it
// finds the simulator through SimConnect.cfg, else the local pipe.
#include "sim/simconnect_dropin.h"
#include "simnet/network_library.h"

namespace simconnect {

Library& dropInLibrary() {
    static simnet::NetworkLibrary library;
    return library;
}

}  // namespace simconnect
