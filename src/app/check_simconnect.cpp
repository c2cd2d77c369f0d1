// The SimConnect row of --check: which client the configuration chooses,
// and for the SDK's SimConnect.dll whether it is found, loads and offers
// every function the program uses.
#include "app/program_check.h"
#include "app/simulator_link.h"
#include "platform/paths.h"
#include "sim/simconnect_sdk_library.h"
#include "simnet/network_library.h"

namespace {

std::string programFolder(const CheckContext& context) {
    return context.executablePath.empty() ? std::string()
                                          : platform::parentPath(context.executablePath);
}

Finding sdkLibraryFinding(const CheckContext& context) {
    const simconnect::SdkLoad load = simconnect::loadSdkLibrary(programFolder(context));
    if (!load.library) return failFinding(load.error);
    return okFinding("SimConnect.dll at " + load.path + " (loads, " +
                     std::to_string(simconnect::sdkFunctionCount()) + " functions found)");
}

}  // namespace

std::vector<Finding> checkSimConnectLibrary(CheckContext& context) {
    const SimulatorSettings& settings = context.config.simulator;
    if (configuredProvider(settings) == SimConnectProvider::SdkLibrary) {
        return {sdkLibraryFinding(context)};
    }
    const SimulatorLinkPlan plan =
        planSimulatorLinkHere(settings, programFolder(context), SimConnectProvider::NetworkClient);
    if (!plan.choice.endpoint) return {};  // no address and no pipes: the address row says why
    return {okFinding(simnet::describeBuiltInClient(*plan.choice.endpoint))};
}
