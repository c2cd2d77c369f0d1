#pragma once

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
bool installConsoleStopHandler(bool (*handler)());

}  // namespace platform
