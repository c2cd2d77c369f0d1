#include "platform/device_watcher.h"
#include "platform/hid_bus.h"

// Placeholder until the system HID bus and device watcher are written.
namespace platform {
namespace {
class NoDevices final : public HidBus {
public:
    std::vector<std::string> enumerate() override { return {}; }
    bool probe(const std::string&, std::uint16_t&, std::uint16_t&) override { return false; }
    std::unique_ptr<HidReadHandle> openRead(const std::string&) override { return nullptr; }
    std::unique_ptr<HidWriteHandle> openWrite(const std::string&) override { return nullptr; }
};
class NoWatcher final : public DeviceWatcher {
public:
    bool start(std::function<void()>, std::string& error) override {
        error = "Device watcher not built yet";
        return false;
    }
    void stop() override {}
};
}  // namespace
std::unique_ptr<HidBus> createSystemHidBus() { return std::make_unique<NoDevices>(); }
std::unique_ptr<DeviceWatcher> createSystemDeviceWatcher() { return std::make_unique<NoWatcher>(); }
}  // namespace platform
