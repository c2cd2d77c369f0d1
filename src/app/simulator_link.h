#pragma once

#include <string>
#include <vector>

#include <memory>

#include "config/app_config.h"
#include "sim/simconnect_client.h"
#include "sim/simconnect_library.h"
#include "simnet/endpoint.h"

// How the program reaches the simulator: the SimConnect implementation the
// configuration chooses when the program runs (simulator.client), the
// address that the configuration (simulator.address) or a SimConnect.cfg
// names, and what follows from them.
//
// Only the built-in client reads the program's own settings. It connects,
// in order, to simulator.address, else to what the SimConnect.cfg files
// name (the SDK's places, then the program's own folder, whose keys win),
// else to the simulator's local pipe (Windows). Over TCP the simulator is
// taken to be elsewhere ("remote"): no local process to wait for or to
// watch, and its end does not end the program unless
// simulator.exitWithSimulator says so. The SDK's library reads
// SimConnect.cfg itself and the program stays as it always was: a local
// simulator, whose end ends the program (unless exitWithSimulator is 0).
enum class SimConnectProvider {
    SdkLibrary,     // the simulator SDK's SimConnect.dll, loaded at run time
    NetworkClient,  // the built-in client (src/simnet): the default
    Emulator,       // a simulator emulator handed to the program (tests, sandbox)
};

// The provider simulator.client names.
SimConnectProvider configuredProvider(const SimulatorSettings& settings);

struct SimulatorLinkPlan {
    SimConnectProvider provider = SimConnectProvider::NetworkClient;
    // What the network client connects to (other providers: Source::None).
    simnet::EndpointChoice choice;
    bool remote = false;  // the network client over TCP
    SimConnectClient::SimulatorPolicy policy;
};

// Pure: `cfgFiles` are the SimConnect.cfg files found, in the order of
// simnet::programCfgPaths().
SimulatorLinkPlan planSimulatorLink(const SimulatorSettings& settings, SimConnectProvider provider,
                                    const std::vector<simnet::CfgFile>& cfgFiles,
                                    bool pipesAvailable);

// The plan on this machine for a program in `executableDir` (its
// SimConnect.cfg files are read only for the network client).
SimulatorLinkPlan planSimulatorLinkHere(const SimulatorSettings& settings,
                                        const std::string& executableDir,
                                        SimConnectProvider provider);

// "192.168.1.20:500, set by simulator.address" or "127.0.0.1:500, named by
// <cfg paths>"; empty without a TCP address.
std::string describeSimulatorAddress(const SimulatorLinkPlan& plan);

// Logs what the plan means (and what is wrong with the settings). Before
// the SimConnect client starts; one thread.
void applySimulatorLink(const SimulatorLinkPlan& plan, const SimulatorSettings& settings);

// The SimConnect implementation of a plan for the network client (pointed
// at the plan's address when it is remote) or the SDK's library (looked
// for beside the program in `executableDir`, then on the system's search
// path). Null with a whole sentence in `error` when SimConnect.dll cannot
// be had: the program then stops instead of quietly taking another
// client. An Emulator plan has no library of its own (null, no error).
std::unique_ptr<simconnect::Library> makeSimConnectLibrary(const SimulatorLinkPlan& plan,
                                                           const std::string& executableDir,
                                                           std::string& error);
