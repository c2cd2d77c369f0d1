#pragma once

#include <string>
#include <vector>

// The arguments a program started with `commandLine` (an EXE.xml entry's
// CommandLine, say) receives, split as the Windows C runtime splits them:
// blanks separate arguments outside double quotes; 2n backslashes before a
// quote give n backslashes and the quote opens or closes quoting, 2n+1 give
// n and a literal quote; inside quotes "" is a literal quote; other
// backslashes are kept as they are. A pure function; any thread.
std::vector<std::string> splitCommandLine(const std::string& commandLine);
