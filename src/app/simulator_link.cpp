#include "app/simulator_link.h"

#include "log/logger.h"
#include "platform/stream_transport.h"

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
            "simulator.address is ignored: this program uses SimConnect.dll, which reads the "
            "simulator's address from SimConnect.cfg; start network\\CorvaneHID.exe to use "
            "simulator.address");
    }
    if (!plan.choice.cfgProblem.empty()) {
        logWarn("SimConnect.cfg names no simulator address: " + plan.choice.cfgProblem + " (" +
                joined(plan.choice.cfgPaths) + ")");
    }
    if (!plan.remote) return;
    simnet::setConfiguredEndpoint(plan.choice.endpoint);
    logInfo("Simulator address: " + describeSimulatorAddress(plan) + "; the program " +
            (plan.policy.exitWithSimulator ? "ends" : "keeps running") +
            " when the simulator quits");
}
