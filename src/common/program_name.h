#pragma once

// The program's name: log header, EXE.xml entry, SimConnect client name and
// the default MobiFlight client name.
constexpr const char kProgramName[] = "CorvaneHID";
