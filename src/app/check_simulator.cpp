// The simulator's rows of --check: for each installation found (the EXE.xml
// candidates), whether the simulator starts this program with this
// configuration, which entries of any program it skips or cannot start, and
// whether the MobiFlight WASM module is in its Community folder.
#include "app/check_paths.h"
#include "app/entry_point.h"
#include "app/launch_arguments.h"
#include "app/program_check.h"
#include "app/user_cfg.h"
#include "common/ascii.h"
#include "common/program_name.h"
#include "platform/paths.h"

namespace {

constexpr const char* kModuleFolder = "mobiflight-event-module";
constexpr const char* kCommunityFolder = "Community";
constexpr const char* kNoInstallation =
    "no installation found for this Windows user (no simulator folder under %LOCALAPPDATA% or "
    "%APPDATA%); start the simulator once, so that it creates its folders, and check again";
constexpr const char* kNotStarted = "so the simulator does not start the program";

std::string fileName(const std::string& path) {
    return platform::fromPath(platform::toPath(path).filename());
}

std::string registerAdvice(const CheckContext& context) {
    return "to have it started, run " + fileName(context.executablePath) +
           " --register --config \"" + fullPath(context.configPath) + "\"";
}

std::string registerAgain(const CheckContext& context) {
    return "register again: " + fileName(context.executablePath) + " --register --config \"" +
           fullPath(context.configPath) + "\"";
}

// The configuration the registered program is started with: its --config,
// else the default search beside the registered executable.
std::string registeredConfig(const CommandLine& arguments, const std::string& executable,
                             const CheckContext& context) {
    if (!arguments.configPath.empty()) return arguments.configPath;
    return defaultConfigPath(executable, context.appDataDir);
}

Finding entryFinding(const std::string& where, const std::string& executable,
                     const std::string& commandLine, const CheckContext& context) {
    if (!isFile(executable)) {
        return failFinding(where + " for " + executable + ", which does not exist; " +
                           registerAgain(context));
    }
    const CommandLine arguments = parseCommandLine(splitCommandLine(commandLine));
    const std::string config = registeredConfig(arguments, executable, context);
    if (platform::toPath(config).is_relative()) {
        return warnFinding(where + " with the relative configuration path " + config +
                           ", which the simulator looks for in a folder of its own; " +
                           registerAgain(context));
    }
    if (!isFile(config)) {
        return failFinding(where + " with " + config +
                           ", which does not exist, so the program would not start; " +
                           registerAgain(context));
    }
    if (!sameFile(executable, context.executablePath)) {
        return warnFinding(where + " for another copy of the program, " + executable + ", with " +
                           config + "; to have this one started, " + registerAgain(context));
    }
    if (!sameFile(config, context.configPath)) {
        return warnFinding(where + " with " + config +
                           ", not with the configuration checked here; check that one with "
                           "--check --config \"" +
                           config + "\", or " + registerAgain(context));
    }
    return okFinding(where + " with this configuration");
}

// What stands in the way of reading the file, if anything.
bool unusableFile(const ExeXmlInspection& file, const CheckContext& context,
                  std::vector<Finding>& findings) {
    if (!file.exists) {
        findings.push_back(warnFinding(file.path + ": no EXE.xml yet, " + kNotStarted + "; " +
                                       registerAdvice(context)));
    } else if (!file.readable) {
        findings.push_back(failFinding(
            file.path + ": cannot be read; check that your Windows user may read the file"));
    } else if (file.utf16) {
        findings.push_back(
            warnFinding(file.path +
                        ": saved as UTF-16, so the program can neither read it nor register "
                        "there; open it in Notepad, choose Save As, set Encoding to UTF-8 "
                        "and save"));
    } else if (!file.xml.wellFormed) {
        findings.push_back(failFinding(
            file.path + ": not well-formed: line " + std::to_string(file.xml.position.line) +
            ", column " + std::to_string(file.xml.position.column) + ": " + file.xml.what +
            ", and the simulator may start no program from it; correct it (Notepad shows the "
            "line and column in its status bar), or put EXE.xml.bak back"));
    } else {
        return false;
    }
    return true;
}

void addRegistrationFindings(const ExeXmlInspection& file, const CheckContext& context,
                             std::vector<Finding>& findings) {
    if (unusableFile(file, context, findings)) return;
    const std::size_t entries = file.commandLines.size();
    if (entries == 0) {
        findings.push_back(warnFinding(file.path + ": not registered, " + kNotStarted + "; " +
                                       registerAdvice(context)));
        return;
    }
    if (entries > 1) {
        findings.push_back(warnFinding(
            file.path + ": registered " + std::to_string(entries) +
            " times; the simulator starts every entry and all copies but one end at once; " +
            registerAgain(context) + " (it keeps one entry)"));
    }
    for (std::size_t i = 0; i < entries; ++i) {
        findings.push_back(entryFinding(file.path + ": registered", file.executablePaths[i],
                                        file.commandLines[i], context));
    }
}

bool isOurs(const exe_xml::AddonEntry& entry) {
    return equalsIgnoreCaseAscii(entry.name, kProgramName);
}

std::string entryName(const ExeXmlInspection& file, const exe_xml::AddonEntry& entry) {
    return file.path + ": the entry " + (entry.name.empty() ? "without a name" : entry.name) +
           " (line " + std::to_string(entry.line) + ")";
}

// Entries of any program that the simulator skips or cannot start: other
// programs' entries are only reported, never changed.
void addEntryFindings(const ExeXmlInspection& file, std::vector<Finding>& findings) {
    for (const exe_xml::AddonEntry& entry : file.unseen) {
        const std::string remedy =
            entry.placement == exe_xml::Placement::AfterFirstRoot
                ? "move the entries after the first </SimBase.Document> into it and delete what "
                  "is left after it"
                : "move it directly inside <SimBase.Document>";
        const std::string text = entryName(file, entry) + " is " + exe_xml::placementText(entry) +
                                 ", so the simulator never starts it; " + remedy;
        findings.push_back(isOurs(entry) ? failFinding(text) : warnFinding(text));
    }
    for (const exe_xml::AddonEntry& entry : file.missingPrograms) {
        // Our own entry's program is judged with its registration above.
        if (isOurs(entry)) continue;
        findings.push_back(warnFinding(
            entryName(file, entry) + " starts " + entry.executablePath +
            ", which does not exist, so the simulator complains about it at every start; "
            "reinstall that program, or remove its entry (its uninstaller, or by hand)"));
    }
}

std::string unknownPackagesFolder() {
    return ", so the packages folder is unknown; start the simulator once, or look for " +
           std::string(kModuleFolder) + " in its Community folder yourself";
}

Finding moduleFinding(const std::string& userCfg) {
    const PackagesPathLookup packages = readInstalledPackagesPath(userCfg);
    if (packages.status == PackagesPathLookup::Status::Unreadable) {
        return warnFinding(userCfg + " cannot be read" + unknownPackagesFolder());
    }
    if (packages.status == PackagesPathLookup::Status::NoLine) {
        return warnFinding(userCfg + " names no InstalledPackagesPath" + unknownPackagesFolder());
    }
    const std::string community = platform::joinPath(packages.path, kCommunityFolder);
    const std::string module = platform::joinPath(community, kModuleFolder);
    const std::string source = " (InstalledPackagesPath of " + userCfg + ")";
    if (isFolder(module)) return okFinding(module + " found" + source);
    const std::string missing =
        isFolder(community) ? module + " not found" : community + " does not exist";
    return failFinding(missing + source + "; install the MobiFlight WASM module into " + community +
                       ", or only the autopilot fallback works");
}

}  // namespace

std::vector<Finding> checkSimulatorRegistrations(CheckContext& context) {
    const std::vector<ExeXmlInspection> files =
        ExeXmlRegistrar(context.environment).inspectAll(kProgramName);
    if (files.empty()) return {warnFinding(kNoInstallation)};
    std::vector<Finding> findings;
    for (const ExeXmlInspection& file : files) {
        addRegistrationFindings(file, context, findings);
        addEntryFindings(file, findings);
    }
    return findings;
}

std::vector<Finding> checkMobiFlightModule(CheckContext& context) {
    if (context.configLoaded && !context.config.mobiflight.enabled) {
        return {okFinding("not needed, mobiflight.enabled is off in the configuration")};
    }
    const std::vector<std::string> installations =
        ExeXmlRegistrar(context.environment).findInstallations();
    if (installations.empty()) {
        return {warnFinding("not looked for, because no simulator installation was found")};
    }
    // The simulator writes UserCfg.opt at its first start. A candidate folder
    // without one is not a settings folder in use (the Store edition has two
    // candidates), unless none of them has one.
    std::vector<Finding> findings;
    std::string lookedFor;
    for (const std::string& exeXml : installations) {
        const std::string userCfg = userCfgBeside(exeXml);
        if (pathExists(userCfg)) {
            findings.push_back(moduleFinding(userCfg));
        } else {
            lookedFor += (lookedFor.empty() ? "" : ", ") + userCfg;
        }
    }
    if (findings.empty()) {
        findings.push_back(warnFinding("no UserCfg.opt found (looked for " + lookedFor + ")" +
                                       unknownPackagesFolder()));
    }
    return findings;
}
