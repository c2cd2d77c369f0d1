#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "addon/exe_xml_registrar.h"
#include <chrono>

#include "app/check_report.h"
#include "config/app_config.h"

namespace platform {
class HidBus;
}

// --check: a one-shot look at everything the program needs, reported to a
// person (check_report.h says how a line reads). It needs no simulator,
// takes no single-instance lock, opens no log and writes no file: every
// check only reads, and the panels are opened only to ask who they are.
//
// The checks form a table run in order on one thread; a further check is
// one more row. A row gives no finding when it does not apply here (the
// SimConnect library on Linux, the simulator address when none is set), or
// one per installation or panel found.

// What the checks look at, and what the earlier ones found.
struct CheckContext {
    std::string configPath;      // as given with --config or found by the default search
    std::string executablePath;  // this program
    std::string appDataDir;      // the machine-wide folder of the default search
    ExeXmlRegistrar::EnvironmentLookup environment;  // APPDATA, LOCALAPPDATA
    platform::HidBus* hidBus = nullptr;              // borrowed
    // How long the simulator address may take to answer an Open.
    std::chrono::milliseconds simulatorAnswerTimeout{3000};

    // Left by the configuration's row for the rows after it.
    bool configLoaded = false;
    AppConfig config;
};

struct CheckRow {
    const char* subject;  // starts each of its lines
    std::vector<Finding> (*run)(CheckContext& context);
};

// Configuration, event map, button configuration, SimConnect library,
// simulator address, simulator registrations, MobiFlight module, HID panels.
const std::vector<CheckRow>& programChecks();

// Writes every row's lines and the summary; returns the exit code (0 when
// nothing failed, else 1).
int runChecks(const std::vector<CheckRow>& rows, CheckContext& context, std::ostream& out);

// The program's --check on the machine's files, environment and HID
// devices, written to standard output.
int runProgramCheck(const std::string& configPath);

// The rows.
std::vector<Finding> checkConfiguration(CheckContext& context);
std::vector<Finding> checkEventMap(CheckContext& context);
std::vector<Finding> checkButtonConfiguration(CheckContext& context);
std::vector<Finding> checkSimConnectLibrary(CheckContext& context);
// Connects to the address the network client would use and waits (at
// most simulatorAnswerTimeout) for the simulator's answer to an Open.
std::vector<Finding> checkSimulatorAddress(CheckContext& context);
std::vector<Finding> checkSimulatorRegistrations(CheckContext& context);
std::vector<Finding> checkMobiFlightModule(CheckContext& context);
std::vector<Finding> checkPanels(CheckContext& context);
