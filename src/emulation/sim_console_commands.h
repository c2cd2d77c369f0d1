#pragma once

#include <functional>
#include <string>

#include "common/command_table.h"
#include "emulation/sim_emulator.h"

// Console rows that script the emulated simulator's aircraft, flight and
// frames, shared by the sandbox and the standalone simulator so both take
// the same words:
//
//   aircraft "<title>" "<aircraft.cfg path>" "<ATC model>"
//   flight start|stop|pause|resume
//   sim fps N          (the rows for the words after "sim")
//   sim stall MS
//
// Each handler returns true; it reports through `say` (a line without
// prefix) what it refused and the frame settings; the emulator's trace
// reports the changes of aircraft and flight. `sim` may be null when the rows are built for their help text only;
// it must outlive the table otherwise. Threads: as the CommandTable's.
namespace emulation {

using Say = std::function<void(const std::string& line)>;

// aircraft and flight, on the top-level table.
void addFlightCommands(CommandTable& top, SimEmulator* sim, Say say);
// fps and stall, on the table of the words after "sim".
void addFrameCommands(CommandTable& simWords, SimEmulator* sim, Say say);

}  // namespace emulation
