#include <condition_variable>

#include "common/mutex.h"
#include "platform/console.h"

namespace platform {
namespace {

// Never destroyed: a handler thread may still wait while the process ends.
struct StopState {
    Mutex lock;
    std::condition_variable finished;
    bool done GUARDED_BY(lock) = false;
};

StopState& stopState() {
    static StopState* state = new StopState();
    return *state;
}

}  // namespace

void consoleStopFinished() {
    StopState& state = stopState();
    {
        MutexLock guard(state.lock);
        state.done = true;
    }
    state.finished.notify_all();
}

bool runConsoleStopHandler(bool (*handler)(), bool waitForStop, std::chrono::milliseconds limit) {
    if (!handler || !handler()) return false;
    if (waitForStop) {
        StopState& state = stopState();
        MutexLock lock(state.lock);
        state.finished.wait_for(lock.native(), limit,
                                [&state]() REQUIRES(state.lock) { return state.done; });
    }
    return true;
}

}  // namespace platform
