#include "common/clock.h"

#include <thread>

namespace {

class SystemClock final : public Clock {
public:
    TimePoint now() const override { return std::chrono::steady_clock::now(); }

    void sleepFor(Duration d) override {
        if (d > Duration::zero()) std::this_thread::sleep_for(d);
    }

    bool waitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                   TimePoint deadline, const std::function<bool()>& pred) override {
        return cv.wait_until(lock, deadline, pred);
    }
};

}  // namespace

Clock& Clock::system() {
    static SystemClock clock;
    return clock;
}
