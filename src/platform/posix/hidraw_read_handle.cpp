#include <errno.h>
#include <fcntl.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cstdint>

#include "platform/posix/hidraw_handles.h"

namespace platform {
namespace hidraw {
namespace {

// Reads wait in poll() on the node and on an eventfd that cancel() makes
// readable for good, so a cancel wakes a blocked read and every later one.
class HidrawReadHandle final : public HidReadHandle {
public:
    HidrawReadHandle(UniqueFd node, UniqueFd wake, std::string serial)
        : node_(std::move(node)), wake_(std::move(wake)), serial_(std::move(serial)) {}

    bool serialNumber(std::string& utf8) override {
        if (serial_.empty()) return false;
        utf8 = serial_;
        return true;
    }

    bool getFeature(std::uint8_t* buffer, std::size_t length) override {
        return ::ioctl(node_.get(), HIDIOCGFEATURE(length), buffer) >= 0;
    }

    ReadResult read(std::uint8_t* buffer, std::size_t capacity, std::size_t& bytesRead,
                    std::chrono::milliseconds timeout) override {
        bytesRead = 0;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            pollfd fds[2] = {{node_.get(), POLLIN, 0}, {wake_.get(), POLLIN, 0}};
            const int ready = ::poll(fds, 2, remainingMs(deadline));
            if (ready < 0) {
                if (errno == EINTR) continue;
                return ReadResult::Failed;
            }
            if (fds[1].revents != 0) return ReadResult::Failed;  // cancelled
            if (ready == 0) return ReadResult::Timeout;
            // The node hangs up when the device is unplugged.
            if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) return ReadResult::Failed;
            const ssize_t count = ::read(node_.get(), buffer, capacity);
            if (count >= 0) {
                bytesRead = static_cast<std::size_t>(count);
                return ReadResult::Data;
            }
            if (errno != EAGAIN && errno != EINTR) return ReadResult::Failed;
        }
    }

    void cancel() override {
        const std::uint64_t one = 1;
        // Cannot fail short of a full counter, which one write per cancel never reaches.
        [[maybe_unused]] const ssize_t written = ::write(wake_.get(), &one, sizeof(one));
    }

private:
    static int remainingMs(std::chrono::steady_clock::time_point deadline) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        return static_cast<int>(
            std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, 1 << 30));
    }

    UniqueFd node_;
    UniqueFd wake_;
    const std::string serial_;
};

}  // namespace

std::unique_ptr<HidReadHandle> openReadHandle(const std::string& path, const std::string& serial) {
    UniqueFd node = openNode(path, O_NONBLOCK, true);
    if (!node.valid()) return nullptr;
    UniqueFd wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!wake.valid()) return nullptr;
    return std::make_unique<HidrawReadHandle>(std::move(node), std::move(wake), serial);
}

}  // namespace hidraw
}  // namespace platform
