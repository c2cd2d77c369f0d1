#pragma once

#include <chrono>

namespace platform {

// Windows: attaches to the parent's console and reopens stdout, stderr and
// stdin on it, leaving streams that are already redirected to a file or a
// pipe alone. Linux: nothing to do (a terminal program already has one).
void attachParentConsole();

// Installs a handler for the user's stop requests: Ctrl+C, Ctrl+Break and
// closing the console on Windows; SIGINT, SIGTERM and SIGHUP on Linux.
// The handler returns true when it handled the request; false leaves the
// default handling in place. It runs on a system thread (Windows) or inside
// a signal handler (Linux), so it may only do async-signal-safe work such as
// an atomic store. Returns false when the handler could not be installed.
//
// Windows ends the process as soon as the handler of a console close
// returns, so for that event (and only there) the handler, once it has
// handled the request, waits until consoleStopFinished() is called or
// kConsoleCloseWait has passed (Windows allows about five seconds). On
// Linux the process lives on after SIGHUP until its stop has finished,
// so nothing waits there. On Linux it also ignores SIGPIPE, so that a closed
// standard output does not end the program.
bool installConsoleStopHandler(bool (*handler)());

constexpr std::chrono::milliseconds kConsoleCloseWait{5000};

// The program's stop has finished: a handler waiting for it returns, and
// later ones do not wait. Idempotent; any thread.
void consoleStopFinished();

// What the installed handler does with one request: calls `handler` (null
// counts as not handled); when it handled the request and `waitForStop` is
// set, waits as described above, at most `limit`. Returns the handler's
// answer. Shared by the platforms; tests call it directly. Without
// waitForStop it is async-signal-safe.
bool runConsoleStopHandler(bool (*handler)(), bool waitForStop,
                           std::chrono::milliseconds limit = kConsoleCloseWait);

}  // namespace platform
