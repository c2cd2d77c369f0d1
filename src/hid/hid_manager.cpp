#include "hid/hid_manager.h"

// Placeholder until the HID manager is written.
HidManager::HidManager(platform::HidBus& bus, Clock& clock) : bus_(bus), clock_(clock) {}
HidManager::~HidManager() { stop(); }
void HidManager::setTrace(bool) {}
bool HidManager::start(const HidSettings&, EventSink, std::string&) {
    running_ = true;
    return true;
}
void HidManager::stop() { running_ = false; }
void HidManager::scan() {}
std::vector<HidDeviceInfo> HidManager::listDevices() { return {}; }
std::size_t HidManager::deviceCount() { return 0; }
void HidManager::setSimConnected(bool) {}
bool HidManager::writeLedCommand(const std::string&, std::int32_t, const LedCommand&) { return false; }
void HidManager::forgetLedCommand(const std::string&, std::int32_t) {}
void HidManager::sendBootsel() {}
