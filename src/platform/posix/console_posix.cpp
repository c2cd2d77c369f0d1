#include <signal.h>

#include <atomic>
#include <initializer_list>

#include "platform/console.h"

namespace platform {
namespace {

std::atomic<bool (*)()> g_stopHandler{nullptr};

void onSignal(int signalNumber) {
    if (runConsoleStopHandler(g_stopHandler.load(), false)) return;
    // Not handled: fall back to the default action of the signal.
    signal(signalNumber, SIG_DFL);
    raise(signalNumber);
}

}  // namespace

void attachParentConsole() {}

bool installConsoleStopHandler(bool (*handler)()) {
    g_stopHandler.store(handler);
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    bool ok = true;
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
        ok = sigaction(signalNumber, &action, nullptr) == 0 && ok;
    }
    // A console whose reader went away (a closed pipe) must not end the
    // program: the write fails and the log file goes on.
    ok = signal(SIGPIPE, SIG_IGN) != SIG_ERR && ok;
    return ok;
}

}  // namespace platform
