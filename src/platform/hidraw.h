#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/device_watcher.h"
#include "platform/hid_bus.h"

// Linux only: the pieces of the hidraw HID bus and the /dev watcher that can
// be pointed at other folders, so tests run them on files they create.
namespace platform {

// What the kernel says about the HID device behind a hidraw node, from
// /sys/class/hidraw/hidrawN/device/uevent.
struct HidrawUevent {
    std::uint16_t busType = 0;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::string serial;  // HID_UNIQ, may be empty
    std::string name;    // HID_NAME, may be empty
};

// Parses uevent text: lines of KEY=VALUE, "HID_ID=bus:vendor:product" in
// hexadecimal (the kernel writes 4:8:8 digits), "HID_UNIQ=" the serial
// number, "HID_NAME=" the product name. False when HID_ID is missing or
// malformed or an id does not fit in 16 bits; `uevent` is untouched then.
bool parseHidrawUevent(const std::string& text, HidrawUevent& uevent);

// The hidraw bus with its nodes in `devDir` and their sysfs folders in
// `sysClassDir`; createSystemHidBus() is createHidrawBus("/dev", "/sys/class/hidraw").
std::unique_ptr<HidBus> createHidrawBus(const std::string& devDir, const std::string& sysClassDir);

// A watcher that calls onChange whenever a "hidraw*" entry is created in or
// deleted from `dir`; createSystemDeviceWatcher() watches "/dev".
std::unique_ptr<DeviceWatcher> createInotifyDeviceWatcher(const std::string& dir);

}  // namespace platform
