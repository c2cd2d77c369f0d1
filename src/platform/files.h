#pragma once

#include <string>

// Whole-file operations the standard library gets wrong or cannot do on
// Windows. Paths are narrow program texts (see paths.h). Any thread.
namespace platform {

// Copies the file `from` to `to`, replacing an existing file `to`. On failure
// returns false with the system's error code in `errorCode` (for
// systemErrorText). (std::filesystem::copy_file under MinGW takes any two
// files on one drive for the same file and refuses to overwrite.)
bool copyFile(const std::string& from, const std::string& to, unsigned long& errorCode);

// Puts the finished file `from` in place of `to` in one step, so a reader
// (or a crash, or a power cut) sees either the old or the new `to`, never a
// partly written one. `from`'s data is flushed to the disk first; `to` is
// replaced when it exists. Both must be in the same folder. On failure
// returns false with the system's error code in `errorCode`; `to` is then
// untouched and `from` is left for the caller to remove.
bool replaceFile(const std::string& from, const std::string& to, unsigned long& errorCode);

// Whether `a` and `b` name one existing file (through a link, or on
// Windows another letter case or a short name). False when either cannot be
// opened. (std::filesystem::equivalent under MinGW takes any two files on one
// drive for the same file.)
bool sameExistingFile(const std::string& a, const std::string& b);

}  // namespace platform
