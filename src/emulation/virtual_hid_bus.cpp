#include "emulation/virtual_hid_bus.h"
#include "common/ascii.h"
#include "common/mutex.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <map>

namespace emulation {
namespace detail {

// One panel; every field but the description's path (fixed at creation) is
// guarded by its bus's BusCore::mutex.
struct PanelState {
    VirtualPanelSpec description;
    bool plugged = true;
    // Bumped by every unplug; a handle only works while it matches.
    std::uint64_t generation = 0;
    std::deque<std::vector<std::uint8_t>> input;
    std::map<std::uint8_t, HidProtocol::Report> features;
    bool featuresFail = false;
    bool probeFails = false;
    bool readOpenFails = false;
    bool writeOpenFails = false;
    bool readsFail = false;
    unsigned long writeError = 0;
    unsigned long setOutputError = 0;
    bool stall = false;
    int stalled = 0;
    int readHandles = 0;
    int writeHandles = 0;
    std::deque<ReceivedReport> received;  // the latest BusCore::keptReports
    std::size_t receivedTotal = 0;
};

// Everything behind one mutex: the bus is a test double, simplicity wins
// over concurrency. `changed` is signalled on every state change.
struct BusCore {
    BusCore(Clock& c, std::size_t kept) : clock(c), keptReports(kept ? kept : 1) {}

    PanelState* findLocked(const std::string& path) REQUIRES(mutex) {
        for (auto& panel : panels) {
            if (panel->description.path == path) return panel.get();
        }
        return nullptr;
    }
    PanelState* findPluggedLocked(const std::string& path) REQUIRES(mutex) {
        PanelState* panel = findLocked(path);
        return panel != nullptr && panel->plugged ? panel : nullptr;
    }

    Clock& clock;
    const std::size_t keptReports;
    mutable Mutex mutex;
    mutable std::condition_variable changed;
    std::vector<std::unique_ptr<PanelState>> panels GUARDED_BY(mutex);
    bool enumerationFails GUARDED_BY(mutex) = false;
    std::function<void(const std::string&, const ReceivedReport&)> observer GUARDED_BY(mutex);
};

}  // namespace detail

namespace {

using detail::BusCore;
using detail::PanelState;

HidProtocol::Report identityReport(const std::array<std::uint8_t, 8>& boardId) {
    HidProtocol::Report r{};
    r[0] = HidProtocol::kIdentityReportId;
    std::copy(boardId.begin(), boardId.end(), r.begin() + 11);
    return r;
}

HidProtocol::Report protocolReport(const HidProtocol::ProtocolInfo& info) {
    HidProtocol::Report r{};
    r[0] = HidProtocol::kProtocolReportId;
    r[1] = info.protoMajor;
    r[2] = info.protoMinor;
    r[3] = info.flags;
    return r;
}

// Ties a handle to the panel generation it was opened on.
class HandleBase {
public:
    HandleBase(std::shared_ptr<BusCore> core, PanelState* panel)
        : core_(std::move(core)), panel_(panel), generation_(panel->generation) {}

protected:
    bool aliveLocked() const REQUIRES(core_->mutex) {
        return panel_->plugged && panel_->generation == generation_;
    }

    std::shared_ptr<BusCore> core_;
    PanelState* panel_;
    const std::uint64_t generation_;
};

class VirtualReadHandle final : public platform::HidReadHandle, private HandleBase {
public:
    VirtualReadHandle(std::shared_ptr<BusCore> core, PanelState* panel)
        : HandleBase(std::move(core), panel) {
        ++panel_->readHandles;  // the bus holds the lock while opening
    }
    ~VirtualReadHandle() override {
        MutexLock lock(core_->mutex);
        --panel_->readHandles;
        core_->changed.notify_all();
    }

    bool serialNumber(std::string& utf8) override {
        MutexLock lock(core_->mutex);
        if (!aliveLocked() || panel_->description.serial.empty()) return false;
        utf8 = panel_->description.serial;
        return true;
    }

    bool getFeature(std::uint8_t* buffer, std::size_t length) override {
        MutexLock lock(core_->mutex);
        if (!aliveLocked() || panel_->featuresFail || length == 0) return false;
        const auto it = panel_->features.find(buffer[0]);
        if (it == panel_->features.end()) return false;
        std::copy_n(it->second.begin(), std::min(length, it->second.size()), buffer);
        return true;
    }

    ReadResult read(std::uint8_t* buffer, std::size_t capacity, std::size_t& bytesRead,
                    std::chrono::milliseconds timeout) override {
        MutexLock lock(core_->mutex);
        const auto failed = [this]() REQUIRES(core_->mutex) {
            return cancelled_ || !aliveLocked() || panel_->readsFail;
        };
        const bool ready = core_->clock.waitFor(
            core_->changed, lock.native(), timeout,
            [&]() REQUIRES(core_->mutex) { return failed() || !panel_->input.empty(); });
        if (failed()) return ReadResult::Failed;
        if (!ready) return ReadResult::Timeout;
        const std::vector<std::uint8_t> report = std::move(panel_->input.front());
        panel_->input.pop_front();
        bytesRead = std::min(capacity, report.size());
        std::copy_n(report.begin(), bytesRead, buffer);
        core_->changed.notify_all();
        return ReadResult::Data;
    }

    void cancel() override {
        MutexLock lock(core_->mutex);
        cancelled_ = true;
        core_->changed.notify_all();
    }

private:
    bool cancelled_ GUARDED_BY(core_->mutex) = false;
};

class VirtualWriteHandle final : public platform::HidWriteHandle, private HandleBase {
public:
    VirtualWriteHandle(std::shared_ptr<BusCore> core, PanelState* panel)
        : HandleBase(std::move(core), panel) {
        ++panel_->writeHandles;  // the bus holds the lock while opening
    }
    ~VirtualWriteHandle() override {
        MutexLock lock(core_->mutex);
        --panel_->writeHandles;
        core_->changed.notify_all();
    }

    bool write(const std::uint8_t* data, std::size_t length, std::size_t& written,
               unsigned long& error) override {
        written = 0;
        MutexLock lock(core_->mutex);
        if (panel_->stall && aliveLocked() && !cancelled_) {
            ++panel_->stalled;
            core_->changed.notify_all();
            core_->changed.wait(lock.native(), [this]() REQUIRES(core_->mutex) {
                return !panel_->stall || !aliveLocked() || cancelled_;
            });
            --panel_->stalled;
            core_->changed.notify_all();
        }
        if (cancelled_) {
            error = kErrorOperationAborted;
            return false;
        }
        if (!aliveLocked()) {
            error = kErrorDeviceNotConnected;
            return false;
        }
        if (panel_->writeError != 0) {
            error = panel_->writeError;
            return false;
        }
        written = length;
        const auto notice = recordLocked(ReceivedReport::Via::WriteFile, data, length);
        lock.unlock();
        if (notice) notice();
        return true;
    }

    bool setOutputReport(const std::uint8_t* data, std::size_t length,
                         unsigned long& error) override {
        MutexLock lock(core_->mutex);
        if (cancelled_) {
            error = kErrorOperationAborted;
            return false;
        }
        if (!aliveLocked()) {
            error = kErrorDeviceNotConnected;
            return false;
        }
        if (panel_->setOutputError != 0) {
            error = panel_->setOutputError;
            return false;
        }
        const auto notice = recordLocked(ReceivedReport::Via::SetOutputReport, data, length);
        lock.unlock();
        if (notice) notice();
        return true;
    }

    void cancel() override {
        MutexLock lock(core_->mutex);
        cancelled_ = true;
        core_->changed.notify_all();
    }

private:
    // Records the report; returns the observer's call, which the caller
    // makes with the lock released (empty without an observer).
    std::function<void()> recordLocked(ReceivedReport::Via via, const std::uint8_t* data,
                                       std::size_t length) REQUIRES(core_->mutex) {
        ReceivedReport report{via, std::vector<std::uint8_t>(data, data + length)};
        panel_->received.push_back(report);
        if (panel_->received.size() > core_->keptReports) panel_->received.pop_front();
        ++panel_->receivedTotal;
        core_->changed.notify_all();
        const auto observer = core_->observer;
        if (!observer) return {};
        return [observer, path = panel_->description.path, report] { observer(path, report); };
    }

    bool cancelled_ GUARDED_BY(core_->mutex) = false;
};

bool hexNibble(char c, std::uint8_t& value) {
    const int digit = hexDigitValue(c);
    if (digit < 0) return false;
    value = static_cast<std::uint8_t>(digit);
    return true;
}

}  // namespace

bool boardIdFromText(const std::string& text, std::array<std::uint8_t, 8>& boardId) {
    if (text.size() != 16) return false;
    std::array<std::uint8_t, 8> bytes{};
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::uint8_t high = 0;
        std::uint8_t low = 0;
        if (!hexNibble(text[2 * i], high) || !hexNibble(text[2 * i + 1], low)) return false;
        bytes[i] = static_cast<std::uint8_t>(high << 4 | low);
    }
    boardId = bytes;
    return true;
}

// --- VirtualPanel ----------------------------------------------------------

const std::string& VirtualPanel::path() const {
    return state_->description.path;
}

void VirtualPanel::unplug() {
    MutexLock lock(core_->mutex);
    if (!state_->plugged) return;
    state_->plugged = false;
    ++state_->generation;
    state_->input.clear();
    core_->changed.notify_all();
}

void VirtualPanel::plug() {
    MutexLock lock(core_->mutex);
    state_->plugged = true;
    core_->changed.notify_all();
}

bool VirtualPanel::plugged() const {
    MutexLock lock(core_->mutex);
    return state_->plugged;
}

bool VirtualPanel::pushEvent(const HidProtocol::HidEvent& event) {
    return pushReport(HidProtocol::buildInputReport(event));
}

bool VirtualPanel::pushButton(std::uint16_t controlId, std::int8_t value, std::uint8_t mode) {
    HidProtocol::HidEvent event;
    event.type = HidProtocol::kEventButton;
    event.controlId = controlId;
    event.value = value;
    event.mode = mode;
    return pushEvent(event);
}

bool VirtualPanel::pushEncoder(std::uint16_t controlId, std::int8_t detents, std::uint8_t speed,
                               std::uint8_t mode) {
    HidProtocol::HidEvent event;
    event.type = HidProtocol::kEventEncoder;
    event.controlId = controlId;
    event.value = detents;
    event.speed = speed;
    event.mode = mode;
    return pushEvent(event);
}

bool VirtualPanel::pushReport(const HidProtocol::Report& report) {
    return pushRaw(std::vector<std::uint8_t>(report.begin(), report.end()));
}

bool VirtualPanel::pushRaw(const std::vector<std::uint8_t>& bytes) {
    MutexLock lock(core_->mutex);
    if (!state_->plugged) return false;
    state_->input.push_back(bytes);
    core_->changed.notify_all();
    return true;
}

std::size_t VirtualPanel::pendingInput() const {
    MutexLock lock(core_->mutex);
    return state_->input.size();
}

bool VirtualPanel::waitForInputDrained(std::chrono::milliseconds timeout) const {
    MutexLock lock(core_->mutex);
    return core_->changed.wait_for(lock.native(), timeout,
                                   [this] { return state_->input.empty(); });
}

void VirtualPanel::failReads(bool on) {
    MutexLock lock(core_->mutex);
    state_->readsFail = on;
    core_->changed.notify_all();
}

void VirtualPanel::setFeatureReport(std::uint8_t id, const HidProtocol::Report& bytes) {
    MutexLock lock(core_->mutex);
    state_->features[id] = bytes;
}

void VirtualPanel::removeFeatureReport(std::uint8_t id) {
    MutexLock lock(core_->mutex);
    state_->features.erase(id);
}

void VirtualPanel::setIdentity(const std::array<std::uint8_t, 8>& boardId) {
    setFeatureReport(HidProtocol::kIdentityReportId, identityReport(boardId));
}

void VirtualPanel::setProtocol(const HidProtocol::ProtocolInfo& info) {
    setFeatureReport(HidProtocol::kProtocolReportId, protocolReport(info));
}

void VirtualPanel::failFeatureReports(bool on) {
    MutexLock lock(core_->mutex);
    state_->featuresFail = on;
}

void VirtualPanel::setSerial(const std::string& serial) {
    MutexLock lock(core_->mutex);
    state_->description.serial = serial;
}

void VirtualPanel::failProbe(bool on) {
    MutexLock lock(core_->mutex);
    state_->probeFails = on;
}

void VirtualPanel::failReadOpen(bool on) {
    MutexLock lock(core_->mutex);
    state_->readOpenFails = on;
}

void VirtualPanel::failWriteOpen(bool on) {
    MutexLock lock(core_->mutex);
    state_->writeOpenFails = on;
}

int VirtualPanel::openReadHandles() const {
    MutexLock lock(core_->mutex);
    return state_->readHandles;
}

int VirtualPanel::openWriteHandles() const {
    MutexLock lock(core_->mutex);
    return state_->writeHandles;
}

void VirtualPanel::failWrites(unsigned long errorCode) {
    MutexLock lock(core_->mutex);
    state_->writeError = errorCode;
}

void VirtualPanel::failSetOutputReport(unsigned long errorCode) {
    MutexLock lock(core_->mutex);
    state_->setOutputError = errorCode;
}

void VirtualPanel::stallWrites(bool on) {
    MutexLock lock(core_->mutex);
    state_->stall = on;
    core_->changed.notify_all();
}

int VirtualPanel::stalledWrites() const {
    MutexLock lock(core_->mutex);
    return state_->stalled;
}

bool VirtualPanel::waitForStalledWrites(int count, std::chrono::milliseconds timeout) const {
    MutexLock lock(core_->mutex);
    return core_->changed.wait_for(lock.native(), timeout,
                                   [&] { return state_->stalled >= count; });
}

std::vector<ReceivedReport> VirtualPanel::received() const {
    MutexLock lock(core_->mutex);
    return std::vector<ReceivedReport>(state_->received.begin(), state_->received.end());
}

std::size_t VirtualPanel::receivedCount() const {
    MutexLock lock(core_->mutex);
    return state_->receivedTotal;
}

bool VirtualPanel::waitForReceived(std::size_t count, std::chrono::milliseconds timeout) const {
    MutexLock lock(core_->mutex);
    return core_->changed.wait_for(lock.native(), timeout,
                                   [&] { return state_->receivedTotal >= count; });
}

void VirtualPanel::clearReceived() {
    MutexLock lock(core_->mutex);
    state_->received.clear();
    state_->receivedTotal = 0;
}

// --- VirtualHidBus ---------------------------------------------------------

VirtualHidBus::VirtualHidBus(Clock& clock, std::size_t keptReports)
    : core_(std::make_shared<BusCore>(clock, keptReports)) {}

VirtualHidBus::~VirtualHidBus() = default;

VirtualPanel VirtualHidBus::addPanel(const VirtualPanelSpec& description) {
    MutexLock lock(core_->mutex);
    if (PanelState* existing = core_->findLocked(description.path))
        return VirtualPanel(core_, existing);
    auto state = std::make_unique<PanelState>();
    state->description = description;
    state->plugged = description.plugged;
    if (description.boardId)
        state->features[HidProtocol::kIdentityReportId] = identityReport(*description.boardId);
    if (description.protocol) {
        state->features[HidProtocol::kProtocolReportId] = protocolReport(*description.protocol);
    }
    core_->panels.push_back(std::move(state));
    core_->changed.notify_all();
    return VirtualPanel(core_, core_->panels.back().get());
}

std::optional<VirtualPanel> VirtualHidBus::find(const std::string& path) const {
    MutexLock lock(core_->mutex);
    if (PanelState* state = core_->findLocked(path)) return VirtualPanel(core_, state);
    return std::nullopt;
}

std::vector<VirtualPanel> VirtualHidBus::panels() const {
    MutexLock lock(core_->mutex);
    std::vector<VirtualPanel> list;
    for (auto& state : core_->panels)
        list.push_back(VirtualPanel(core_, state.get()));
    return list;
}

void VirtualHidBus::failEnumeration(bool on) {
    MutexLock lock(core_->mutex);
    core_->enumerationFails = on;
}

void VirtualHidBus::setReceiveObserver(
    std::function<void(const std::string& path, const ReceivedReport& report)> observer) {
    MutexLock lock(core_->mutex);
    core_->observer = std::move(observer);
}

std::vector<std::string> VirtualHidBus::enumerate() {
    MutexLock lock(core_->mutex);
    std::vector<std::string> paths;
    if (core_->enumerationFails) return paths;
    for (const auto& panel : core_->panels) {
        if (panel->plugged) paths.push_back(panel->description.path);
    }
    return paths;
}

bool VirtualHidBus::probe(const std::string& path, std::uint16_t& vendorId,
                          std::uint16_t& productId) {
    MutexLock lock(core_->mutex);
    PanelState* panel = core_->findPluggedLocked(path);
    if (panel == nullptr || panel->probeFails) return false;
    vendorId = panel->description.vendorId;
    productId = panel->description.productId;
    return true;
}

std::unique_ptr<platform::HidReadHandle> VirtualHidBus::openRead(const std::string& path) {
    MutexLock lock(core_->mutex);
    PanelState* panel = core_->findPluggedLocked(path);
    if (panel == nullptr || panel->readOpenFails) return nullptr;
    return std::make_unique<VirtualReadHandle>(core_, panel);
}

std::unique_ptr<platform::HidWriteHandle> VirtualHidBus::openWrite(const std::string& path) {
    MutexLock lock(core_->mutex);
    PanelState* panel = core_->findPluggedLocked(path);
    if (panel == nullptr || panel->writeOpenFails) return nullptr;
    return std::make_unique<VirtualWriteHandle>(core_, panel);
}

}  // namespace emulation
