#include "hid/hid_manager.h"

#include <algorithm>
#include <cctype>
#include <functional>
#include <optional>
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

// WriteFile first, HidD_SetOutputReport when that fails; true when either
// took the report.
bool sendBootselTo(platform::HidWriteHandle& handle, const std::string& name,
                   const Report& report) {
    std::size_t written = 0;
    unsigned long writeError = 0;
    if (handle.write(report.data(), report.size(), written, writeError) &&
        written == report.size()) {
        logInfo("BOOTSEL command sent to " + name + " via WriteFile");
        return true;
    }
    unsigned long setError = 0;
    if (handle.setOutputReport(report.data(), report.size(), setError)) {
        logInfo("BOOTSEL command sent to " + name + " via HidD_SetOutputReport");
        return true;
    }
    logWarn("Failed to send BOOTSEL command to " + name +
            " (WriteFile err=" + std::to_string(writeError) + ", bytes=" + std::to_string(written) +
            ", HidD_SetOutputReport err=" + std::to_string(setError) + ")");
    return false;
}

}  // namespace

// One panel's output: the reports waiting for its writer thread and the
// write handle. Two locks, never held together: lock_ guards the waiting
// reports for a few copies at a time and is never held around I/O;
// handleLock_ is held around every use of the handle, so the writer and
// sendBootsel take turns.
class HidManager::Outbox {
public:
    // What one pass of the writer writes, in this order.
    struct Pass {
        std::optional<Report> led;
        std::optional<Report> status;
        bool warnStatus = true;
    };

    Outbox(std::string panelName, std::unique_ptr<platform::HidWriteHandle> handle)
        : name(std::move(panelName)), handle_(std::move(handle)), cancelTarget_(handle_.get()) {}

    const std::string name;

    void postLed(const Report& report) EXCLUDES(lock_) {
        MutexLock lock(lock_);
        led_ = report;
        wake_.notify_all();
    }

    void postStatus(const Report& report, bool warnOnFailure) EXCLUDES(lock_) {
        MutexLock lock(lock_);
        status_ = report;
        warnStatus_ = warnOnFailure;
        wake_.notify_all();
    }

    void forgetLed() EXCLUDES(lock_) {
        MutexLock lock(lock_);
        lastLed_.reset();
    }

    // The writer's wait for its next pass; false once the outbox is closed
    // and nothing waits. An LED report equal to the last one taken is
    // dropped here; the one taken is remembered whether its write works or not.
    bool next(Pass& pass) EXCLUDES(lock_) {
        pass = Pass{};
        MutexLock lock(lock_);
        writing_ = false;
        wake_.notify_all();
        for (;;) {
            wake_.wait(lock.native(),
                       [this]() REQUIRES(lock_) { return led_ || status_ || closing_; });
            if (led_ && led_ != lastLed_) pass.led = lastLed_ = led_;
            led_.reset();
            pass.status.swap(status_);
            pass.warnStatus = warnStatus_;
            writing_ = pass.led || pass.status;
            if (writing_) return true;
            if (closing_) return false;
        }
    }

    // Real time: nothing waits and the writer is not writing, or it ended.
    bool waitIdle(std::chrono::steady_clock::time_point deadline) EXCLUDES(lock_) {
        MutexLock lock(lock_);
        return wake_.wait_until(lock.native(), deadline, [this]() REQUIRES(lock_) {
            return done_ || (!led_ && !status_ && !writing_);
        });
    }

    // The writer is done with the outbox.
    void finished() EXCLUDES(lock_) {
        MutexLock lock(lock_);
        done_ = true;
        wake_.notify_all();
    }

    // The writer writes what waits, then ends.
    void close() EXCLUDES(lock_) {
        MutexLock lock(lock_);
        closing_ = true;
        wake_.notify_all();
    }

    // Waits at most `limit` on `clock` for the writer to end.
    bool waitFinished(Clock& clock, Clock::Duration limit) EXCLUDES(lock_) {
        MutexLock lock(lock_);
        return clock.waitFor(wake_, lock.native(), limit,
                             [this]() REQUIRES(lock_) { return done_; });
    }

    // Drops what waits and cancels the write in progress, from any thread
    // (also while the writer is inside a write); before closeHandle() only.
    void cancel() EXCLUDES(lock_) {
        {
            MutexLock lock(lock_);
            led_.reset();
            status_.reset();
            closing_ = true;
            wake_.notify_all();
        }
        cancelTarget_->cancel();
    }

    // Runs `use` on the handle, held for the calling thread alone; false
    // once the handle is closed.
    bool withHandle(const std::function<void(platform::HidWriteHandle&)>& use)
        EXCLUDES(handleLock_) {
        MutexLock lock(handleLock_);
        if (!handle_) return false;
        use(*handle_);
        return true;
    }

    void closeHandle() EXCLUDES(handleLock_) {
        MutexLock lock(handleLock_);
        handle_.reset();
    }

private:
    Mutex lock_;
    std::condition_variable wake_;  // a report waits, closing, the writer ended
    std::optional<Report> led_ GUARDED_BY(lock_);
    std::optional<Report> lastLed_ GUARDED_BY(lock_);
    std::optional<Report> status_ GUARDED_BY(lock_);
    bool warnStatus_ GUARDED_BY(lock_) = true;
    bool closing_ GUARDED_BY(lock_) = false;
    bool writing_ GUARDED_BY(lock_) = false;  // a pass taken and not yet written
    bool done_ GUARDED_BY(lock_) = false;

    Mutex handleLock_;
    std::unique_ptr<platform::HidWriteHandle> handle_ GUARDED_BY(handleLock_);
    platform::HidWriteHandle* const cancelTarget_;  // the handle, until closeHandle()
};

// One open panel. Set up under deviceLock_ before its threads start; after
// that its reader reads the immutable fields, and everything the writer and
// the output operations touch is in the outbox, shared with the published
// list.
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
    std::unique_ptr<platform::HidWriteHandle> writeHandle;  // until the outbox takes it
    std::shared_ptr<Outbox> outbox;                         // null without a write handle
    EventSink sink;                                         // the manager's sink, copied at connect
    std::atomic<bool> running{false};
    std::atomic<bool> readerFailed{false};  // its read failed while running
    std::atomic<bool> delivered{false};     // it read a report since it was opened
    std::thread reader;
    std::thread writer;
};

HidManager::HidManager(platform::HidBus& bus, Clock& clock)
    : bus_(bus), clock_(clock), warnings_(clock) {}

HidManager::~HidManager() {
    stop();
}

void HidManager::setTrace(bool on) {
    trace_ = on;
}

void HidManager::setPanelListener(PanelListener listener) {
    MutexLock lock(deviceLock_);
    listener_ = std::move(listener);
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
    for (auto it = devices_.begin(); it != devices_.end();)
        it = disconnectLocked(it);
    retries_.clear();
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
        it = disconnectLocked(it);
    }
    for (const std::string& path : matches) {
        if (devices_.find(path) == devices_.end() && !retryPendingLocked(path)) {
            connectLocked(path);
        }
    }
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

// The panel is listed and its writer runs before the listener hears of it,
// and its reader starts after that.
void HidManager::connectLocked(const std::string& path) {
    std::unique_ptr<HidDevice> device = openLocked(path);
    if (!device) return;
    device->index =
        indices_.acquire(device->identityValid ? "board " + device->name : "path " + device->path);
    device->connection = ++connections_;
    logInfo("HID device connected: " + device->name + " index=" + std::to_string(device->index));
    if (device->protocolValid) {
        logDebug(HidProtocol::traceProtocolInfo(device->name, device->protocol));
    }
    if (!startWriterLocked(*device)) {
        indices_.release(device->index);
        logInfo("HID device disconnected: " + device->name);
        return;
    }
    device->sink = sink_;
    device->running = true;
    HidDevice& opened = *device;
    const auto it = devices_.emplace(path, std::move(device)).first;
    publishLocked(opened.outbox.get());
    notifyLocked(PanelChange::Kind::Added, opened);
    try {
        opened.reader = std::thread(&HidManager::readerLoop, this, &opened);
    } catch (const std::system_error& e) {
        // Never keep a panel that looks connected but can deliver no input;
        // the next scan tries it again.
        logWarn("Failed to start HID reader for " + opened.name + ": " + e.what());
        disconnectLocked(it);
    }
}

std::unique_ptr<HidManager::HidDevice> HidManager::openLocked(const std::string& path) {
    auto device = std::make_unique<HidDevice>();
    device->path = path;
    device->readHandle = bus_.openRead(path);
    if (!device->readHandle) {
        warnings_.warn("Failed to open HID device: " + path);
        return nullptr;
    }
    device->writeHandle = bus_.openWrite(path);
    if (!device->writeHandle) {
        logWarn("Failed to open HID write handle; output disabled for: " + path);
    }
    identifyLocked(*device);
    return device;
}

// A panel without a write handle has no outbox and no writer.
bool HidManager::startWriterLocked(HidDevice& device) {
    if (!device.writeHandle) return true;
    device.outbox = std::make_shared<Outbox>(device.name, std::move(device.writeHandle));
    try {
        device.writer = std::thread(&HidManager::writerLoop, this, device.outbox.get());
    } catch (const std::system_error& e) {
        logWarn("Failed to start HID writer for " + device.name + ": " + e.what());
        device.outbox.reset();
        return false;
    }
    return true;
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

// Unlisted first, so the queries and the output operations no longer find
// the panel while it closes.
HidManager::DeviceTable::iterator HidManager::disconnectLocked(DeviceTable::iterator it) {
    const std::unique_ptr<HidDevice> device = std::move(it->second);
    it = devices_.erase(it);
    publishLocked();
    closeLocked(*device);
    notifyLocked(PanelChange::Kind::Removed, *device);
    logInfo("HID device disconnected: " + device->name);
    return it;
}

// The writer is told to finish while the reader is being stopped, then gets
// what is left of kWriterDrain before its write in progress is cancelled.
void HidManager::closeLocked(HidDevice& device) {
    device.running = false;
    if (device.outbox) device.outbox->close();
    // Cancelling completes the reader's outstanding read, so the join is prompt.
    if (device.readHandle) device.readHandle->cancel();
    if (device.reader.joinable()) device.reader.join();
    if (device.outbox) {
        if (!device.outbox->waitFinished(clock_, kWriterDrain)) device.outbox->cancel();
        if (device.writer.joinable()) device.writer.join();
        device.outbox->closeHandle();
    }
    device.readHandle.reset();
    indices_.release(device.index);
}

void HidManager::notifyLocked(PanelChange::Kind kind, const HidDevice& device) {
    if (listener_) listener_(PanelChange{kind, device.name, device.index, device.connection});
}

// Called after every change of the table, still under deviceLock_, so the
// published list never runs behind the table for longer than that. A panel
// just connected (`added`) gets the simulator status as it is listed.
void HidManager::publishLocked(Outbox* added) {
    std::vector<Listed> list;
    list.reserve(devices_.size());
    for (const auto& entry : devices_) {
        const HidDevice& device = *entry.second;
        list.push_back({{device.name, device.index, device.connection}, device.outbox});
    }
    MutexLock lock(listLock_);
    listed_.swap(list);
    if (added != nullptr && simStatus_) added->postStatus(*simStatus_, false);
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

void HidManager::writerLoop(Outbox* outbox) {
    Outbox::Pass pass;
    while (outbox->next(pass)) {
        if (pass.led) writeReport(*outbox, "led_ctl", *pass.led, true);
        if (pass.status) writeReport(*outbox, "sim_status", *pass.status, pass.warnStatus);
    }
    outbox->finished();
}

void HidManager::writeReport(Outbox& outbox, const char* reportName, const Report& report,
                             bool warnOnFailure) {
    std::size_t written = 0;
    unsigned long error = 0;
    bool ok = false;
    outbox.withHandle([&](platform::HidWriteHandle& handle) {
        ok = handle.write(report.data(), report.size(), written, error);
    });
    if (!ok) {
        written = 0;
        if (warnOnFailure) {
            warnings_.warn(std::string("HID ") + reportName + " write failed for " + outbox.name +
                           " (err=" + std::to_string(error) + ")");
        }
    }
    if (trace_) logDebug(HidProtocol::traceOutput(reportName, outbox.name, written, report));
}

std::vector<HidDeviceInfo> HidManager::listDevices() {
    MutexLock lock(listLock_);
    std::vector<HidDeviceInfo> list;
    list.reserve(listed_.size());
    for (const Listed& panel : listed_)
        list.push_back(panel.info);
    return list;
}

std::size_t HidManager::deviceCount() {
    MutexLock lock(listLock_);
    return listed_.size();
}

std::shared_ptr<HidManager::Outbox> HidManager::selectOutbox(const std::string& name,
                                                             std::int32_t index) {
    MutexLock lock(listLock_);
    if (!name.empty()) {
        for (const Listed& panel : listed_) {
            if (panel.info.name == name) return panel.outbox;
        }
    }
    if (index >= 0) {
        for (const Listed& panel : listed_) {
            if (panel.info.index == index) return panel.outbox;
        }
    }
    return nullptr;
}

std::vector<std::shared_ptr<HidManager::Outbox>> HidManager::listedOutboxes() {
    MutexLock lock(listLock_);
    std::vector<std::shared_ptr<Outbox>> outboxes;
    for (const Listed& panel : listed_) {
        if (panel.outbox) outboxes.push_back(panel.outbox);
    }
    return outboxes;
}

void HidManager::setSimConnected(bool connected) {
    const Report report = HidProtocol::buildSimStatusReport(connected);
    MutexLock lock(listLock_);
    if (simStatus_ == report) return;
    simStatus_ = report;
    for (const Listed& panel : listed_) {
        if (panel.outbox) panel.outbox->postStatus(report, true);
    }
}

bool HidManager::writeLedCommand(const std::string& name, std::int32_t index,
                                 const LedCommand& command) {
    const std::shared_ptr<Outbox> outbox = selectOutbox(name, index);
    if (!outbox) return false;
    outbox->postLed(HidProtocol::buildLedCtlReport(command));
    return true;
}

void HidManager::forgetLedCommand(const std::string& name, std::int32_t index) {
    if (const std::shared_ptr<Outbox> outbox = selectOutbox(name, index)) outbox->forgetLed();
}

bool HidManager::waitForOutputIdle(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (const auto& outbox : listedOutboxes()) {
        if (!outbox->waitIdle(deadline)) return false;
    }
    return true;
}

void HidManager::sendBootsel() {
    const Report report = HidProtocol::buildDeviceCtlReport(HidProtocol::kDeviceCtlBootsel);
    if (trace_) logDebug(HidProtocol::traceDeviceCtl(report));
    bool accepted = false;
    for (const auto& outbox : listedOutboxes()) {
        outbox->withHandle([&](platform::HidWriteHandle& handle) {
            accepted = sendBootselTo(handle, outbox->name, report) || accepted;
        });
    }
    if (!accepted) logWarn("No HID device accepted BOOTSEL command");
}
