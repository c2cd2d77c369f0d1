#pragma once

#include <string>
#include <vector>

namespace platform {

// True when a process whose executable name equals one of `names`
// (compared without regard to ASCII case) is running. Windows: a Toolhelp32
// process snapshot. Linux: every /proc/<pid>: the base name of argv[0] (so
// "C:\\Games\\FlightSimulator.exe" run under Wine matches too) and the
// kernel's comm name. A snapshot that cannot be taken counts as no match.
// Any thread may call it.
bool isAnyProcessRunning(const std::vector<std::string>& names);

// The file-name part of a path, accepting both '/' and '\\' as separators.
std::string executableBaseName(const std::string& path);

// Whether `name` equals one of `names`, ignoring ASCII case.
bool matchesAnyName(const std::string& name, const std::vector<std::string>& names);

}  // namespace platform
