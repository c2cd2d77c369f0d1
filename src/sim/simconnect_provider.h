#pragma once

// Which library gives this executable its SimConnect functions. Each
// provider's library defines linkedSimConnectProvider() once, so the answer
// is fixed when the executable is linked: the program needs it to know
// whether its own address settings reach the simulator (only the network
// client reads them; the SDK's library reads SimConnect.cfg by itself).
enum class SimConnectProvider {
    SdkLibrary,     // the simulator SDK's SimConnect.dll (or a drop-in in its place)
    NetworkClient,  // the network client of this project, built in
    Emulator,       // the simulator emulator, built in (tests, sandbox)
};

// Any thread; no state.
SimConnectProvider linkedSimConnectProvider();
