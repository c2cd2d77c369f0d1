#pragma once

#include "sim/simconnect_library.h"

// A drop-in SimConnect library (SimConnect.dll / libSimConnect.so built by
// this project, for tests that load a library where the SDK's would be):
// simconnect_dropin_exports.cpp exports the SDK's plain C functions and
// forwards each to the one Library that the drop-in defines here. The
// program itself never contains this.
namespace simconnect {

// Lives as long as the loaded library; any thread.
Library& dropInLibrary();

}  // namespace simconnect
