// The SimConnect row of --check: the library the program binds at start
// lies beside it, loads, and offers every function the program imports (a
// program with the network client built in needs none).
#include "app/check_paths.h"
#include "app/program_check.h"
#include "platform/paths.h"
#include "platform/shared_library.h"

namespace {

// The names the program imports, generated from the import list it is
// linked with (src/sim/SimConnect.def).
constexpr const char* kImportedFunctions[] = {
#include "simconnect_functions.inc"
};

constexpr const char* kFromTheSdk =
    "copy SimConnect.dll from the simulator SDK's folder \"SimConnect SDK\\lib\" beside the "
    "program (installation.md in the docs folder, step 2)";

std::string missingFunctions(const platform::SharedLibrary& library) {
    std::string missing;
    for (const char* name : kImportedFunctions) {
        if (library.exports(name)) continue;
        if (!missing.empty()) missing += ", ";
        missing += name;
    }
    return missing;
}

}  // namespace

std::vector<Finding> checkSimConnectLibrary(CheckContext& context) {
    if (!platform::librariesBesideExecutable()) return {};
    if (context.simConnectProvider == SimConnectProvider::NetworkClient) {
        return {
            okFinding("SimConnect.dll not needed, this program carries its own network client")};
    }
    if (context.executablePath.empty()) {
        return {
            warnFinding("not looked for, because the program's own path is unknown (longer "
                        "than 260 characters?); move its folder to a shorter path")};
    }
    const std::string path = platform::joinPath(platform::parentPath(context.executablePath),
                                                platform::sharedLibraryFileName("SimConnect"));
    if (!isFile(path)) return {failFinding(path + " not found; " + kFromTheSdk)};
    std::string error;
    const std::unique_ptr<platform::SharedLibrary> library =
        platform::loadSharedLibrary(path, error);
    if (!library) {
        return {failFinding(path + " does not load (" + error +
                            "); it needs the Microsoft Visual C++ runtime (x64), which the "
                            "simulator installs; else " +
                            kFromTheSdk)};
    }
    const std::string missing = missingFunctions(*library);
    if (!missing.empty()) {
        return {failFinding(path + " lacks " + missing + ", so it is not the simulator's; " +
                            kFromTheSdk)};
    }
    const std::size_t count = sizeof kImportedFunctions / sizeof kImportedFunctions[0];
    return {okFinding(path + " loads, with the " + std::to_string(count) +
                      " functions the program uses")};
}
