#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "sim/simconnect_library.h"

// The simulator SDK's SimConnect.dll, loaded when the program runs (never
// linked): for a user who asks for it in the configuration. Only this file
// knows the library's file name and its exported functions.
namespace simconnect {

// What loading found: the library, or why there is none.
struct SdkLoad {
    std::unique_ptr<Library> library;  // null on failure
    std::string path;                  // the file loaded, or the name looked for
    // On failure: what is wrong and what to do, a whole sentence for the
    // log and --check ("SimConnect.dll not found beside the program (...)
    // nor on the system's search path; ...").
    std::string error;
};

// "SimConnect.dll" on Windows ("libSimConnect.so" where the drop-ins are
// built for Linux).
std::string sdkLibraryFileName();

// How many functions the program takes from the library.
std::size_t sdkFunctionCount();

// Looks for the library beside the program (in `programFolder`, when not
// empty), then on the system's search path; loads it and finds every
// function. Any thread; each call loads the library once more (the system
// counts the loads).
SdkLoad loadSdkLibrary(const std::string& programFolder);

}  // namespace simconnect
