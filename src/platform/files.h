#pragma once

#include <cstdint>
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

// The files the program reads whole (its configuration, the simulator's
// EXE.xml, UserCfg.opt and SimConnect.cfg) are a few KiB; anything larger
// is not one of them and is refused before it is read.
constexpr std::uint64_t kMaxInputFileBytes = 4 * 1024 * 1024;

enum class InputFile {
    Ok,
    NotFound,    // nothing exists at the path
    Folder,      // a folder
    NotRegular,  // a device, pipe, socket or the like
    TooLarge,    // more than the bound (also when it grew while read)
    Failed,      // it could not be opened or read: errorCode tells why
};

// Reads the regular file at `path` whole into `bytes` (set only on Ok).
// Never blocks on what is not a file: the type is checked before the open,
// and again on the opened file (the open itself does not wait, e.g. for a
// FIFO's writer). Never reads more than maxBytes + 1 bytes.
InputFile readInputFile(const std::string& path, std::string& bytes, unsigned long& errorCode,
                        std::uint64_t maxBytes = kMaxInputFileBytes);

// Why a file other than Ok, NotFound and Failed was refused: "a folder",
// "not a regular file", "larger than 4 MiB".
std::string inputFileRefusal(InputFile result, std::uint64_t maxBytes = kMaxInputFileBytes);

}  // namespace platform
