// The simulator address row of --check: whether the address the program's
// built-in client would connect to answers as a simulator does.
#include "app/program_check.h"
#include "app/simulator_link.h"
#include "common/program_name.h"
#include "platform/paths.h"
#include "sim/simconnect_call_log.h"
#include "simnet/server_probe.h"

namespace {

using Outcome = simnet::ProbeResult::Outcome;

constexpr const char* kSeeRemote = " (remote.md in the docs folder)";

std::string seconds(std::chrono::milliseconds timeout) {
    return std::to_string((timeout.count() + 999) / 1000) + " s";
}

Finding probeFinding(const simnet::ProbeResult& probe, const std::string& where, std::uint16_t port,
                     std::chrono::milliseconds timeout) {
    switch (probe.outcome) {
        case Outcome::Answered:
            return okFinding(where + ", answers: " + simnet::describeApplication(probe.open));
        case Outcome::Unreachable:
            return failFinding(where + ", does not answer (" + probe.detail +
                               "); check that the simulator runs and accepts network clients "
                               "on this port (its SimConnect.xml), that the firewall of its "
                               "computer lets TCP port " +
                               std::to_string(port) + " in, and the address" + kSeeRemote);
        case Outcome::Silent:
            return failFinding(where +
                               ", accepted the connection but gave no SimConnect answer "
                               "within " +
                               seconds(timeout) +
                               "; check that this is the port of the simulator's SimConnect.xml, "
                               "and check again once the simulator has loaded" +
                               kSeeRemote);
        case Outcome::Ended:
            return failFinding(where +
                               ", ended the connection without a SimConnect answer; the simulator "
                               "may be starting or ending, or serve no more clients (MaxClients "
                               "in its SimConnect.xml)" +
                               kSeeRemote);
        case Outcome::NotSimConnect:
            return failFinding(where + ", " + probe.detail +
                               "; check that this is the port of the simulator's SimConnect.xml" +
                               kSeeRemote);
        case Outcome::Quit:
            return warnFinding(where +
                               ", answered that the simulator is closing; check again "
                               "when it runs");
        case Outcome::Exception:
            return failFinding(where + ", refused this program (" +
                               SimConnectCallLog::exceptionName(probe.exception) +
                               "); the simulator may be too old or too new for it");
    }
    return failFinding(where + ": no result");
}

// The simulator on this computer, over its pipe: often simply not started
// while the user checks the setup, so silence is a warning.
Finding localProbeFinding(const simnet::ProbeResult& probe, const std::string& where) {
    if (probe.outcome == Outcome::Answered) {
        return okFinding(where + ", answers: " + simnet::describeApplication(probe.open));
    }
    std::string detail = probe.detail;
    if (probe.outcome == Outcome::Exception) {
        detail = "refused this program (" + SimConnectCallLog::exceptionName(probe.exception) + ")";
    } else if (detail.empty()) {
        detail = "no answer";
    }
    return warnFinding(where +
                       ": the simulator is not running, or does not accept clients: " + detail);
}

}  // namespace

std::vector<Finding> checkSimulatorAddress(CheckContext& context) {
    if (!context.configLoaded) return {};  // the configuration's row says why
    const SimulatorSettings& settings = context.config.simulator;
    const SimConnectProvider provider = configuredProvider(settings);
    if (provider == SimConnectProvider::SdkLibrary) {
        if (settings.address.empty()) return {};
        return {warnFinding("simulator.address " + settings.address +
                            " is set, but simulator.client is SimConnect.dll, which reads the "
                            "simulator's address from SimConnect.cfg instead; remove "
                            "simulator.client to use it" +
                            kSeeRemote)};
    }
    const std::string folder =
        context.executablePath.empty() ? "" : platform::parentPath(context.executablePath);
    const SimulatorLinkPlan plan = planSimulatorLinkHere(settings, folder, provider);
    std::vector<Finding> findings;
    if (!plan.choice.cfgProblem.empty()) {
        std::string paths;
        for (const std::string& path : plan.choice.cfgPaths)
            paths += (paths.empty() ? "" : ", ") + path;
        findings.push_back(warnFinding(paths + " name no simulator address (" +
                                       plan.choice.cfgProblem +
                                       "); correct it, or set simulator.address in the "
                                       "configuration"));
    }
    if (!plan.choice.endpoint) return findings;  // no address, and no pipes on this system
    const simnet::ProbeResult probe =
        simnet::probeServer(*plan.choice.endpoint, std::string(kProgramName) + " check",
                            context.simulatorAnswerTimeout);
    if (!plan.remote) {
        findings.push_back(localProbeFinding(probe, plan.choice.endpoint->describe()));
        return findings;
    }
    findings.push_back(probeFinding(probe, describeSimulatorAddress(plan),
                                    plan.choice.endpoint->port, context.simulatorAnswerTimeout));
    return findings;
}
