#pragma once

#include <string>
#include <vector>

namespace platform {
class HidBus;
}

// Options of the command line. Arguments are compared whole and
// case-sensitively; anything unknown is ignored.
struct CommandLine {
    bool consoleMode = false;
    bool hidTrace = false;
    bool doRegister = false;
    bool doUnregister = false;
    bool listExeXml = false;
    bool check = false;      // --check: report and exit, changing nothing
    std::string configPath;  // empty: use the default search
};

CommandLine parseCommandLine(const std::vector<std::string>& args);

// The default configuration file: "config/config.json" beside the
// executable when it exists there, else "Corvane/config.json" in the
// machine-wide application-data folder (not checked), else the first.
std::string defaultConfigPath(const std::string& executablePath, const std::string& appDataDir);

// The launch arguments written into EXE.xml: --config "PATH", with a
// relative PATH made absolute against the current folder.
std::string registrationArguments(const std::string& configPath);

// The whole program: console attachment, options, the one-shot EXE.xml
// commands or the single-instance normal run. Returns the exit code.
int runProgram(int argc, char** argv);
