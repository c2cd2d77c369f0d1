#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Text that comes from outside the program (the simulator, a panel, a file,
// the network) before it reaches the log or the terminal. Outside text may
// hold anything: a line break that starts a forged log line, terminal
// escape sequences, or megabytes of one payload.
//
// outsideText() shows every byte below 0x20, 0x7F and every byte from 0x80
// up as \xNN (upper-case hex), so the result is printable ASCII whatever
// came in, and keeps at most `limit` bytes of the input, followed by
// "... (<n> bytes in all)" when it cut. An escaped byte is never split.
//
// withoutControlBytes() shows only the bytes below 0x20 and 0x7F as \xNN
// and keeps the rest (UTF-8 paths stay readable): the logger passes every
// line through it and --check every report line, so no line can hold a
// line break or an escape sequence even where a caller forgot outsideText().
//
// Pure functions; any thread.
inline constexpr std::size_t kOutsideTextLimit = 160;

std::string outsideText(std::string_view text, std::size_t limit = kOutsideTextLimit);
std::string withoutControlBytes(std::string_view text);
