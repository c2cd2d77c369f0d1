#include "hid/hid_manager.h"

#include <algorithm>
#include <cctype>
#include <system_error>
#include <utility>

#include "common/ascii.h"
#include "log/logger.h"
#include "log/outside_text.h"

using HidProtocol::Report;
using ReadResult = platform::HidReadHandle::ReadResult;

namespace {

// How long one read waits before the reader looks at its running flag again.
constexpr std::chrono::milliseconds kReadWait(1000);
// A scan interval of 0 or below still pauses this long, so the scan thread
// never spins a core re-opening every HID device of the machine.
constexpr std::chrono::milliseconds kMinimumScanPause(10);
// The pause before reopening a panel whose reads fail while it stays
// present: doubled at every further failure up to the maximum.
constexpr std::chrono::seconds kFirstRetryPause(1);
constexpr std::chrono::seconds kMaxRetryPause(60);

}  // namespace

// One open panel. Set up under deviceLock_ before its reader starts; after
// that the reader reads the immutable fields, and only holders of
// deviceLock_ touch writeHandle and the LED memory.
struct HidManager::HidDevice {
    std::string path;
    std::string name;
    std::string serial;
    HidProtocol::DeviceIdentity identity;
    bool identityValid = false;
    HidProtocol::ProtocolInfo protocol;
    bool protocolValid = false;
    std::int32_t index = -1;
    std::uint64_t connection = 0;
    std::unique_ptr<platform::HidReadHandle> readHandle;
    std::unique_ptr<platform::HidWriteHandle> writeHandle;
    EventSink sink;  // the manager's sink, copied at connect
    std::atomic<bool> running{false};
    std::atomic<bool> readerFailed{false};  // its read failed while running
    std::atomic<bool> delivered{false};     // it read a report since it was opened
    std::thread reader;
    Report lastLed{};
    bool lastLedValid = false;
};

HidManager::HidManager(platform::HidBus& bus, Clock& clock)
    : bus_(bus), clock_(clock), warnings_(clock) {}

HidManager::~HidManager() {
    stop();
}

void HidManager::setPanelListener(PanelListener listener) {
    MutexLock lock(deviceLock_);
    listener_ = std::move(listener);
}

void HidManager::setTrace(bool on) {
    trace_ = on;
}

bool HidManager::parseIdentifier(const std::string& text, std::uint16_t& value) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (text.compare(i, 2, "0x") == 0 || text.compare(i, 2, "0X") == 0) i += 2;
    if (i >= text.size() || hexDigitValue(text[i]) < 0) return false;
    std::uint32_t result = 0;
    for (; i < text.size() && hexDigitValue(text[i]) >= 0; ++i) {
        result = result * 16 + static_cast<std::uint32_t>(hexDigitValue(text[i]));
        if (result > 0xFFFF) return false;
    }
    // "%x" negates in unsigned arithmetic: anything but -0 is far above 0xFFFF.
    if (negative && result != 0) return false;
    value = static_cast<std::uint16_t>(result);
    return true;
}

bool HidManager::start(const HidSettings& settings, EventSink sink, std::string& error) {
    if (running_) return true;
    std::uint16_t vid = 0;
    std::uint16_t pid = 0;
    if (!parseIdentifier(settings.vid, vid) || !parseIdentifier(settings.pid, pid)) {
        error = "Invalid VID/PID";
        return false;
    }
    {
        MutexLock lock(deviceLock_);
        settings_ = settings;
        sink_ = std::move(sink);
        running_ = true;
    }
    scan();
    try {
        scanThread_ = std::thread(&HidManager::scanLoop, this);
    } catch (const std::system_error& e) {
        stop();
        error = std::string("Failed to start HID scan thread: ") + e.what();
        return false;
    }
    return true;
}

void HidManager::stop() {
    {
        MutexLock lock(deviceLock_);
        if (!running_.exchange(false)) return;
    }
    wake_.notify_all();
    if (scanThread_.joinable()) scanThread_.join();
    MutexLock lock(deviceLock_);
    for (auto& entry : devices_)
        disconnectLocked(*entry.second);
    devices_.clear();
    retries_.clear();
    publishLocked();
}

// start() has just scanned, so the thread pauses first.
void HidManager::scanLoop() {
    for (;;) {
        {
            MutexLock lock(deviceLock_);
            const auto pause = settings_.scanIntervalMs > 0
                                   ? std::chrono::milliseconds(settings_.scanIntervalMs)
                                   : kMinimumScanPause;
            if (clock_.waitFor(wake_, lock.native(), pause, [this] { return !running_; })) return;
        }
        scan();
        warnings_.poll();
    }
}

void HidManager::scan() {
    HidSettings settings;
    std::uint64_t sequence = 0;
    {
        MutexLock lock(deviceLock_);
        if (!running_) return;
        settings = settings_;
        sequence = ++scanStarted_;
    }
    std::uint16_t vid = 0;
    std::uint16_t pid = 0;
    if (!parseIdentifier(settings.vid, vid) || !parseIdentifier(settings.pid, pid)) return;
    // Probing opens every HID device of the machine: done without the lock.
    const std::vector<std::string> matches = findMatches(vid, pid);
    MutexLock lock(deviceLock_);
    if (!running_ || sequence < scanApplied_) return;
    scanApplied_ = sequence;
    applyScanLocked(matches);
}

std::vector<std::string> HidManager::findMatches(std::uint16_t vid, std::uint16_t pid) {
    std::vector<std::string> matches;
    for (const std::string& path : bus_.enumerate()) {
        std::uint16_t vendorId = 0;
        std::uint16_t productId = 0;
        if (bus_.probe(path, vendorId, productId) && vendorId == vid && productId == pid) {
            matches.push_back(path);
        }
    }
    return matches;
}

void HidManager::applyScanLocked(const std::vector<std::string>& matches) {
    const auto present = [&matches](const std::string& path) {
        return std::find(matches.begin(), matches.end(), path) != matches.end();
    };
    for (auto it = retries_.begin(); it != retries_.end();) {
        it = present(it->first) ? std::next(it) : retries_.erase(it);
    }
    for (auto it = devices_.begin(); it != devices_.end();) {
        HidDevice& device = *it->second;
        // A reader whose read failed while its path is still present: the
        // panel re-enumerated between two scans, or its reads fail. Either
        // way the connection can never deliver input again: reopen it.
        if (present(it->first) && !device.readerFailed) {
            ++it;
            continue;
        }
        if (present(it->first)) deferRetryLocked(device);
        disconnectLocked(device);
        it = devices_.erase(it);
    }
    for (const std::string& path : matches) {
        if (devices_.find(path) == devices_.end() && !retryPendingLocked(path)) {
            connectLocked(path);
        }
    }
    publishLocked();
}

// A panel that delivered a report since it was opened is reopened at once
// (its pause starts over); one that failed without delivering anything
// waits, longer at each failure.
void HidManager::deferRetryLocked(const HidDevice& device) {
    if (device.delivered) {
        retries_.erase(device.path);
        return;
    }
    const auto found = retries_.find(device.path);
    const Clock::Duration pause =
        found == retries_.end()
            ? Clock::Duration(kFirstRetryPause)
            : std::min<Clock::Duration>(found->second.pause * 2, kMaxRetryPause);
    retries_[device.path] = RetryPause{pause, clock_.now() + pause};
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(pause).count();
    logWarn("HID reads failed for " + device.name + "; reopening in " + std::to_string(seconds) +
            " s");
}

bool HidManager::retryPendingLocked(const std::string& path) const {
    const auto found = retries_.find(path);
    return found != retries_.end() && clock_.now() < found->second.notBefore;
}

void HidManager::connectLocked(const std::string& path) {
    auto device = std::make_unique<HidDevice>();
    device->path = path;
    device->readHandle = bus_.openRead(path);
    if (!device->readHandle) {
        warnings_.warn("Failed to open HID device: " + path);
        return;
    }
    device->writeHandle = bus_.openWrite(path);
    if (!device->writeHandle) {
        logWarn("Failed to open HID write handle; output disabled for: " + path);
    }
    identifyLocked(*device);
    device->index =
        indices_.acquire(device->identityValid ? "board " + device->name : "path " + device->path);
    device->connection = ++connections_;
    logInfo("HID device connected: " + device->name + " index=" + std::to_string(device->index));
    if (device->protocolValid) {
        logDebug(HidProtocol::traceProtocolInfo(device->name, device->protocol));
    }
    if (simStatusValid_ && device->writeHandle) {
        writeReportLocked(*device, "sim_status", lastSimStatus_, false);
    }
    device->sink = sink_;
    if (listener_) listener_({PanelChange::Kind::Added, device->name, device->index, device->connection});
    device->running = true;
    try {
        device->reader = std::thread(&HidManager::readerLoop, this, device.get());
    } catch (const std::system_error& e) {
        // Never keep a panel that looks connected but can deliver no input;
        // the next scan tries it again.
        device->running = false;
        indices_.release(device->index);
        if (listener_) {
            listener_({PanelChange::Kind::Removed, device->name, device->index, device->connection});
        }
        logWarn("Failed to start HID reader for " + device->name + ": " + e.what());
        logInfo("HID device disconnected: " + device->name);
        return;
    }
    devices_.emplace(path, std::move(device));
}

PanelIdentity HidManager::identify(platform::HidReadHandle& handle, const std::string& path) {
    PanelIdentity panel;
    std::string serial;
    if (handle.serialNumber(serial)) panel.serial = serial;

    std::string error;
    Report buffer{};
    buffer[0] = HidProtocol::kIdentityReportId;
    if (handle.getFeature(buffer.data(), buffer.size()) &&
        HidProtocol::parseIdentityReport(buffer, panel.identity, error)) {
        panel.identityValid = true;
        panel.name = HidProtocol::formatBoardId(panel.identity.boardId);
    } else {
        panel.identity = HidProtocol::DeviceIdentity{};
        // The panel's own text names it in every log line: shown safely once.
        panel.name = panel.serial.empty() ? path : outsideText(panel.serial);
    }

    buffer = Report{};
    buffer[0] = HidProtocol::kProtocolReportId;
    if (handle.getFeature(buffer.data(), buffer.size()) &&
        HidProtocol::parseProtocolReport(buffer, panel.protocol, error)) {
        panel.protocolValid = true;
    }
    return panel;
}

void HidManager::identifyLocked(HidDevice& device) {
    PanelIdentity panel = identify(*device.readHandle, device.path);
    device.name = std::move(panel.name);
    device.serial = std::move(panel.serial);
    device.identity = panel.identity;
    device.identityValid = panel.identityValid;
    device.protocol = panel.protocol;
    device.protocolValid = panel.protocolValid;
}

void HidManager::disconnectLocked(HidDevice& device) {
    device.running = false;
    // Cancelling completes the reader's outstanding read, so the join is prompt.
    if (device.readHandle) device.readHandle->cancel();
    if (device.reader.joinable()) device.reader.join();
    device.readHandle.reset();
    device.writeHandle.reset();
    indices_.release(device.index);
    if (listener_) listener_({PanelChange::Kind::Removed, device.name, device.index, device.connection});
    logInfo("HID device disconnected: " + device.name);
}

// Called after every change of the table, still under deviceLock_, so the
// published list never runs behind the table for longer than that.
void HidManager::publishLocked() {
    std::vector<HidDeviceInfo> list;
    list.reserve(devices_.size());
    for (const auto& entry : devices_) {
        const HidDevice& device = *entry.second;
        list.push_back({device.name, device.index, device.connection});
    }
    MutexLock lock(listLock_);
    published_.swap(list);
}

void HidManager::readerLoop(HidDevice* device) {
    Report buffer{};
    while (device->running) {
        std::size_t count = 0;
        const ReadResult result =
            device->readHandle->read(buffer.data(), buffer.size(), count, kReadWait);
        if (result == ReadResult::Timeout) continue;
        if (result == ReadResult::Failed) {
            if (device->running) device->readerFailed = true;
            break;
        }
        if (count == 0) continue;
        device->delivered = true;
        if (trace_) logDebug(HidProtocol::traceInput(device->name, buffer.data(), count));
        HidProtocol::HidEvent event;
        std::string error;
        if (!HidProtocol::decodeInputReport(buffer.data(), count, event, error)) continue;
        if (device->sink) device->sink(event, device->name, device->index);
    }
    // A read still outstanding after a stop belongs to the handle, which
    // cancels it and waits for it before it is closed at disconnect.
}

std::vector<HidDeviceInfo> HidManager::listDevices() {
    MutexLock lock(listLock_);
    return published_;
}

std::size_t HidManager::deviceCount() {
    MutexLock lock(listLock_);
    return published_.size();
}

HidManager::HidDevice* HidManager::selectLocked(const std::string& name, std::int32_t index) {
    if (!name.empty()) {
        for (auto& entry : devices_) {
            if (entry.second->name == name) return entry.second.get();
        }
    }
    if (index >= 0) {
        for (auto& entry : devices_) {
            if (entry.second->index == index) return entry.second.get();
        }
    }
    return nullptr;
}

void HidManager::writeReportLocked(HidDevice& device, const char* reportName, const Report& report,
                                   bool warnOnFailure) {
    std::size_t written = 0;
    unsigned long error = 0;
    if (!device.writeHandle->write(report.data(), report.size(), written, error)) {
        written = 0;
        if (warnOnFailure) {
            warnings_.warn(std::string("HID ") + reportName + " write failed for " + device.name +
                           " (err=" + std::to_string(error) + ")");
        }
    }
    if (trace_) logDebug(HidProtocol::traceOutput(reportName, device.name, written, report));
}

void HidManager::setSimConnected(bool connected) {
    const Report report = HidProtocol::buildSimStatusReport(connected);
    MutexLock lock(deviceLock_);
    if (simStatusValid_ && report == lastSimStatus_) return;
    lastSimStatus_ = report;
    simStatusValid_ = true;
    for (auto& entry : devices_) {
        if (entry.second->writeHandle) writeReportLocked(*entry.second, "sim_status", report, true);
    }
}

bool HidManager::writeLedCommand(const std::string& name, std::int32_t index,
                                 const LedCommand& command) {
    MutexLock lock(deviceLock_);
    HidDevice* device = selectLocked(name, index);
    if (device == nullptr || !device->writeHandle) return false;
    const Report report = HidProtocol::buildLedCtlReport(command);
    if (device->lastLedValid && report == device->lastLed) return true;
    // Remembered even when the write fails: a failed command is not retried
    // until it changes or is forgotten.
    writeReportLocked(*device, "led_ctl", report, true);
    device->lastLed = report;
    device->lastLedValid = true;
    return true;
}

void HidManager::forgetLedCommand(const std::string& name, std::int32_t index) {
    MutexLock lock(deviceLock_);
    if (HidDevice* device = selectLocked(name, index)) device->lastLedValid = false;
}

void HidManager::sendBootsel() {
    const Report report = HidProtocol::buildDeviceCtlReport(HidProtocol::kDeviceCtlBootsel);
    MutexLock lock(deviceLock_);
    if (trace_) logDebug(HidProtocol::traceDeviceCtl(report));
    bool accepted = false;
    for (auto& entry : devices_) {
        HidDevice& device = *entry.second;
        if (!device.writeHandle) continue;
        std::size_t written = 0;
        unsigned long writeError = 0;
        if (device.writeHandle->write(report.data(), report.size(), written, writeError) &&
            written == report.size()) {
            logInfo("BOOTSEL command sent to " + device.name + " via WriteFile");
            accepted = true;
            continue;
        }
        unsigned long setError = 0;
        if (device.writeHandle->setOutputReport(report.data(), report.size(), setError)) {
            logInfo("BOOTSEL command sent to " + device.name + " via HidD_SetOutputReport");
            accepted = true;
            continue;
        }
        logWarn("Failed to send BOOTSEL command to " + device.name + " (WriteFile err=" +
                std::to_string(writeError) + ", bytes=" + std::to_string(written) +
                ", HidD_SetOutputReport err=" + std::to_string(setError) + ")");
    }
    if (!accepted) logWarn("No HID device accepted BOOTSEL command");
}
