#pragma once

#include <functional>
#include <memory>
#include <string>

namespace platform {

// Tells when HID devices arrive or leave, so panels are picked up at once
// instead of at the next periodic rescan. On Windows a thread owns a hidden
// message-only window registered for HID interface broadcasts; on Linux a
// thread watches /dev for hidraw nodes.
class DeviceWatcher {
public:
    virtual ~DeviceWatcher() = default;  // stops

    // Starts the watcher thread and returns once it has finished its set-up.
    // onChange runs on the watcher thread, once per arrival or removal.
    // A second start while running returns true and starts nothing.
    virtual bool start(std::function<void()> onChange, std::string& error) = 0;
    // Ends and joins the watcher thread; idempotent.
    virtual void stop() = 0;
};

std::unique_ptr<DeviceWatcher> createSystemDeviceWatcher();

}  // namespace platform
