#include "app/simulator_link.h"

#include "log/logger.h"
#include "platform/stream_transport.h"
#include "sim/simconnect_sdk_library.h"
#include "simnet/network_library.h"

namespace {

std::optional<simnet::Endpoint> configuredAddress(const SimulatorSettings& settings) {
    if (settings.address.empty()) return std::nullopt;
    return simnet::Endpoint::tcp(settings.address, static_cast<std::uint16_t>(settings.port));
}

std::string joined(const std::vector<std::string>& items) {
    std::string text;
    for (const std::string& item : items)
        text += (text.empty() ? "" : ", ") + item;
    return text;
}

bool overTcp(const simnet::EndpointChoice& choice) {
    return choice.endpoint && choice.endpoint->transport == simnet::Endpoint::Transport::Tcp;
}

}  // namespace

SimConnectProvider configuredProvider(const SimulatorSettings& settings) {
    return settings.client == SimulatorSettings::Client::SdkLibrary
               ? SimConnectProvider::SdkLibrary
               : SimConnectProvider::NetworkClient;
}

SimulatorLinkPlan planSimulatorLink(const SimulatorSettings& settings, SimConnectProvider provider,
                                    const std::vector<simnet::CfgFile>& cfgFiles,
                                    bool pipesAvailable) {
    SimulatorLinkPlan plan;
    plan.provider = provider;
    if (provider == SimConnectProvider::NetworkClient) {
        plan.choice =
            simnet::chooseEndpoint(configuredAddress(settings), cfgFiles, 0, pipesAvailable);
        plan.remote = overTcp(plan.choice);
    }
    plan.policy.localProcess = !plan.remote;
    plan.policy.exitWithSimulator = settings.exitWithSimulator.value_or(!plan.remote);
    return plan;
}

SimulatorLinkPlan planSimulatorLinkHere(const SimulatorSettings& settings,
                                        const std::string& executableDir,
                                        SimConnectProvider provider) {
    std::vector<simnet::CfgFile> files;
    if (provider == SimConnectProvider::NetworkClient) {
        files = simnet::readCfgFiles(simnet::programCfgPaths(executableDir));
    }
    return planSimulatorLink(settings, provider, files, platform::localPipesAvailable());
}

std::string describeSimulatorAddress(const SimulatorLinkPlan& plan) {
    if (!overTcp(plan.choice)) return {};
    const std::string address = plan.choice.endpoint->describe();
    if (plan.choice.source == simnet::EndpointChoice::Source::Configured) {
        return address + ", set by simulator.address";
    }
    return address + ", named by " + joined(plan.choice.cfgPaths);
}

void applySimulatorLink(const SimulatorLinkPlan& plan, const SimulatorSettings& settings) {
    if (plan.provider == SimConnectProvider::SdkLibrary && !settings.address.empty()) {
        logWarn(
            "simulator.address is ignored: simulator.client is SimConnect.dll, which reads the "
            "simulator's address from SimConnect.cfg; remove simulator.client to use "
            "simulator.address with the built-in client");
    }
    if (!plan.choice.cfgProblem.empty()) {
        logWarn("SimConnect.cfg names no simulator address: " + plan.choice.cfgProblem + " (" +
                joined(plan.choice.cfgPaths) + ")");
    }
    if (!plan.remote) return;
    logInfo("Simulator address: " + describeSimulatorAddress(plan) + "; the program " +
            (plan.policy.exitWithSimulator ? "ends" : "keeps running") +
            " when the simulator quits");
}

std::unique_ptr<simconnect::Library> makeSimConnectLibrary(const SimulatorLinkPlan& plan,
                                                           const std::string& executableDir,
                                                           std::string& error) {
    switch (plan.provider) {
        case SimConnectProvider::NetworkClient:
            return std::make_unique<simnet::NetworkLibrary>(plan.remote ? plan.choice.endpoint
                                                                        : std::nullopt);
        case SimConnectProvider::SdkLibrary: {
            simconnect::SdkLoad load = simconnect::loadSdkLibrary(executableDir);
            error = load.error;
            return std::move(load.library);
        }
        case SimConnectProvider::Emulator:
            break;
    }
    return nullptr;
}
