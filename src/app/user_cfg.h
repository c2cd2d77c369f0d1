#pragma once

#include <string>

// The simulator's UserCfg.opt, as far as the check needs it: the folder of
// the installed packages, whose Community folder holds the add-ons, named
// by a line such as
//
//   InstalledPackagesPath "D:\MSFS\Packages"
//
// Pure functions apart from readInstalledPackagesPath; any thread.

// The value of the first InstalledPackagesPath line of `text`: the key at the
// start of a line (after blanks; ASCII letter case ignored), blanks, then the
// path in double quotes (up to the line's end when the closing quote is
// missing) or, without quotes, the rest of the line without trailing blanks.
// CR LF and LF lines and a UTF-8 byte-order mark are read alike. False when
// no line names a non-empty path.
bool findInstalledPackagesPath(const std::string& text, std::string& path);

struct PackagesPathLookup {
    enum class Status { Found, NoLine, Unreadable };
    Status status = Status::Unreadable;
    std::string path;  // when Found
};

// Reads the file at `userCfgPath` and finds the line in it.
PackagesPathLookup readInstalledPackagesPath(const std::string& userCfgPath);

// UserCfg.opt lies in the folder of the installation's EXE.xml. The
// candidates are Windows paths, so either separator ends the folder.
std::string userCfgBeside(const std::string& exeXmlPath);
