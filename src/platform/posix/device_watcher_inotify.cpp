#include <errno.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cstring>
#include <system_error>
#include <thread>

#include "platform/hidraw.h"
#include "platform/posix/hidraw_handles.h"
#include "platform/posix/unique_fd.h"

namespace platform {
namespace {

bool isHidrawName(const char* name) {
    return std::strncmp(name, "hidraw", 6) == 0;
}

// A thread that waits on inotify for hidraw nodes appearing in or leaving a
// folder, and on an eventfd that stop() signals.
class InotifyDeviceWatcher final : public DeviceWatcher {
public:
    explicit InotifyDeviceWatcher(std::string dir) : dir_(std::move(dir)) {}
    ~InotifyDeviceWatcher() override { stop(); }

    bool start(std::function<void()> onChange, std::string& error) override {
        if (thread_.joinable()) return true;
        UniqueFd inotify(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK));
        if (!inotify.valid()) return fail("inotify_init1", errno, error);
        if (::inotify_add_watch(inotify.get(), dir_.c_str(), IN_CREATE | IN_DELETE) < 0) {
            const int code = errno;
            return fail("watching " + dir_, code, error);
        }
        UniqueFd wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
        if (!wake.valid()) return fail("eventfd", errno, error);
        onChange_ = std::move(onChange);
        inotify_ = std::move(inotify);
        wake_ = std::move(wake);
        try {
            thread_ = std::thread(&InotifyDeviceWatcher::run, this);
        } catch (const std::system_error& e) {
            inotify_.reset();
            wake_.reset();
            error = std::string("Failed to start the HID device watcher thread: ") + e.what();
            return false;
        }
        return true;
    }

    void stop() override {
        if (!thread_.joinable()) return;
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(wake_.get(), &one, sizeof(one));
        thread_.join();
        inotify_.reset();
        wake_.reset();
    }

private:
    static bool fail(const std::string& what, int code, std::string& error) {
        error = "Failed to watch for HID devices (" + what + "): " + std::strerror(code);
        return false;
    }

    void run() {
        for (;;) {
            pollfd fds[2] = {{inotify_.get(), POLLIN, 0}, {wake_.get(), POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0) {
                if (errno == EINTR) continue;
                return;
            }
            if (fds[1].revents != 0) return;
            if (fds[0].revents & POLLIN)
                drainEvents();
            else if (fds[0].revents != 0)
                return;
        }
    }

    // One onChange per hidraw creation or deletion; a queue overflow lost
    // events, so it counts as a change too.
    void drainEvents() {
        alignas(inotify_event) char buffer[4096];
        for (;;) {
            const ssize_t length = ::read(inotify_.get(), buffer, sizeof(buffer));
            if (length <= 0) return;
            for (ssize_t offset = 0; offset < length;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
                const bool overflow = (event->mask & IN_Q_OVERFLOW) != 0;
                if (overflow || (event->len > 0 && isHidrawName(event->name))) onChange_();
                offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
    }

    const std::string dir_;
    std::function<void()> onChange_;  // set before the thread starts
    UniqueFd inotify_;
    UniqueFd wake_;
    std::thread thread_;  // owner's thread only
};

}  // namespace

std::unique_ptr<DeviceWatcher> createInotifyDeviceWatcher(const std::string& dir) {
    return std::make_unique<InotifyDeviceWatcher>(dir);
}

std::unique_ptr<DeviceWatcher> createSystemDeviceWatcher() {
    return createInotifyDeviceWatcher("/dev");
}

}  // namespace platform
