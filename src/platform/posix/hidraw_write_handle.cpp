#include <errno.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>

#include <atomic>
#include <vector>

#include "platform/posix/hidraw_handles.h"

namespace platform {
namespace hidraw {
namespace {

// Output reports go out with write(); the first byte is the report ID. A
// write blocks until the USB stack is done with it (5 s at most); nothing
// aborts it from outside, so cancel() only stops the later ones.
class HidrawWriteHandle final : public HidWriteHandle {
public:
    explicit HidrawWriteHandle(UniqueFd node) : node_(std::move(node)) {}

    bool write(const std::uint8_t* data, std::size_t length, std::size_t& written,
               unsigned long& error) override {
        written = 0;
        if (cancelledError(error)) return false;
        ssize_t count = 0;
        do {
            count = ::write(node_.get(), data, length);
        } while (count < 0 && errno == EINTR);
        if (count < 0) {
            error = static_cast<unsigned long>(errno);
            return false;
        }
        written = static_cast<std::size_t>(count);
        return true;
    }

    // The control-pipe route (SET_REPORT), as HidD_SetOutputReport takes it.
    bool setOutputReport(const std::uint8_t* data, std::size_t length,
                         unsigned long& error) override {
        if (cancelledError(error)) return false;
        std::vector<std::uint8_t> report(data, data + length);
        if (::ioctl(node_.get(), HIDIOCSOUTPUT(length), report.data()) >= 0) return true;
        error = static_cast<unsigned long>(errno);
        return false;
    }

    void cancel() override { cancelled_ = true; }

private:
    bool cancelledError(unsigned long& error) const {
        if (!cancelled_) return false;
        error = ECANCELED;
        return true;
    }

    UniqueFd node_;
    std::atomic<bool> cancelled_{false};
};

}  // namespace

std::unique_ptr<HidWriteHandle> openWriteHandle(const std::string& path) {
    UniqueFd node = openNode(path, 0, false);
    if (!node.valid()) return nullptr;
    return std::make_unique<HidrawWriteHandle>(std::move(node));
}

}  // namespace hidraw
}  // namespace platform
