#pragma once

#include <string>

namespace platform {

// Puts the finished file `from` in place of `to` in one step, so a reader
// (or a crash, or a power cut) sees either the old or the new `to`, never a
// partly written one. `from`'s data is flushed to the disk first; `to` is
// replaced when it exists. Both must be in the same folder. On failure
// returns false with the system's error code in `errorCode`; `to` is then
// untouched and `from` is left for the caller to remove. Any thread.
bool replaceFile(const std::string& from, const std::string& to, unsigned long& errorCode);

}  // namespace platform
