#include <condition_variable>
#include <mutex>

#include "platform/console.h"

namespace platform {
namespace {

// Never destroyed: a handler thread may still wait while the process ends.
struct StopState {
    std::mutex lock;
    std::condition_variable finished;
    bool done = false;
};

StopState& stopState() {
    static StopState* state = new StopState();
    return *state;
}

}  // namespace

void consoleStopFinished() {
    StopState& state = stopState();
    {
        std::lock_guard<std::mutex> guard(state.lock);
        state.done = true;
    }
    state.finished.notify_all();
}

bool runConsoleStopHandler(bool (*handler)(), bool waitForStop, std::chrono::milliseconds limit) {
    if (!handler || !handler()) return false;
    if (waitForStop) {
        StopState& state = stopState();
        std::unique_lock<std::mutex> lock(state.lock);
        state.finished.wait_for(lock, limit, [&state] { return state.done; });
    }
    return true;
}

}  // namespace platform
