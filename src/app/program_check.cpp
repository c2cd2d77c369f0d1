#include "app/program_check.h"

#include <iostream>
#include <memory>

#include "platform/environment.h"
#include "platform/hid_bus.h"
#include "platform/paths.h"

const std::vector<CheckRow>& programChecks() {
    static const std::vector<CheckRow> rows{
        {"Configuration", checkConfiguration},
        {"Event map", checkEventMap},
        {"Button configuration", checkButtonConfiguration},
        {"SimConnect", checkSimConnectLibrary},
        {"Simulator address", checkSimulatorAddress},
        {"Simulator", checkSimulatorRegistrations},
        {"MobiFlight module", checkMobiFlightModule},
        {"HID panels", checkPanels},
    };
    return rows;
}

int runChecks(const std::vector<CheckRow>& rows, CheckContext& context, std::ostream& out) {
    CheckTally tally;
    for (const CheckRow& row : rows)
        writeCheckLines(row.subject, row.run(context), tally, out);
    writeCheckSummary(tally, out);
    return tally.exitCode();
}

int runProgramCheck(const std::string& configPath) {
    const std::unique_ptr<platform::HidBus> bus = platform::createSystemHidBus();
    CheckContext context;
    context.configPath = configPath;
    context.executablePath = platform::executablePath();
    context.appDataDir = platform::commonAppDataDir();
    context.environment = platform::getEnvironmentVariable;
    context.hidBus = bus.get();
    return runChecks(programChecks(), context, std::cout);
}
