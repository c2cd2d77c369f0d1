#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/clock.h"
#include "hid/hid_protocol.h"
#include "platform/hid_bus.h"

// An in-memory HID bus of virtual panels, for tests and the sandbox. It
// behaves like the machine's bus as the HID manager sees it: panels can be
// plugged and unplugged at any time, input reports queue up until a read
// takes them, reads honour their time-out and cancel exactly like the real
// ones, and the reports the host writes are recorded per panel (the latest
// of them, kKeptReports unless the bus is told otherwise, and a count of
// all, so a long run stays small).
//
//   emulation::VirtualHidBus bus;
//   emulation::VirtualPanel pfd = bus.addPanel({"/dev/hidraw3", 0x1A2B, 0x3C4D, "SN-1",
//                                               boardId, protocolInfo});
//   HidManager hid(bus);            // the manager finds the panel on its first scan
//   pfd.pushButton(0x0101, 1);      // a press, read by the panel's reader thread
//   pfd.waitForReceived(1, 2s);     // e.g. the "sim_status" report written at connect
//   pfd.unplug();                   // the outstanding read fails; the path disappears
//
// Everything here is thread-safe. The bus's state is shared with the handles
// it opens, so handles may outlive the bus; the clock must outlive both.
//
// Error codes are the Windows ones the real bus reports: a write to an
// unplugged panel fails with 1167 (ERROR_DEVICE_NOT_CONNECTED), one on a
// cancelled write handle with 995 (ERROR_OPERATION_ABORTED), as Windows
// aborts a write in progress at CancelIoEx.
namespace emulation {

constexpr unsigned long kErrorDeviceNotConnected = 1167;
constexpr unsigned long kErrorOperationAborted = 995;
constexpr std::size_t kKeptReports = 4096;

namespace detail {
struct BusCore;
struct PanelState;
}  // namespace detail

// What a panel looks like when it is added to the bus.
struct VirtualPanelSpec {
    std::string path;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::string serial;  // empty: the serial-number query fails
    // The identity feature report 0x20 carries this board id when set;
    // without it the report is absent.
    std::optional<std::array<std::uint8_t, 8>> boardId;
    // The protocol feature report 0x21 when set; absent otherwise.
    std::optional<HidProtocol::ProtocolInfo> protocol;
    bool plugged = true;
};

// One report a panel received from the host, in arrival order.
struct ReceivedReport {
    enum class Via { WriteFile, SetOutputReport };
    Via via = Via::WriteFile;
    std::vector<std::uint8_t> bytes;
};

// "E6614103E7452D2F" (16 hexadecimal digits) to the 8 bytes of a board id.
bool boardIdFromText(const std::string& text, std::array<std::uint8_t, 8>& boardId);

class VirtualHidBus;

// A cheap, copyable reference to one panel of a VirtualHidBus. Every
// operation may be called from any thread.
class VirtualPanel {
public:
    const std::string& path() const;

    // --- Plugging --------------------------------------------------------
    // Unplugging makes outstanding and later reads fail, releases stalled
    // writes with a failure, discards queued input, and removes the path from
    // enumeration. Handles opened before an unplug stay dead after plug().
    void unplug();
    void plug();
    bool plugged() const;

    // --- Input, panel to host --------------------------------------------
    // Each call queues one report for the host; false (and dropped) while
    // unplugged. Queued reports survive until a read takes them, also while
    // no handle is open.
    bool pushEvent(const HidProtocol::HidEvent& event);
    bool pushButton(std::uint16_t controlId, std::int8_t value, std::uint8_t mode = 0);
    bool pushEncoder(std::uint16_t controlId, std::int8_t detents, std::uint8_t speed = 0,
                     std::uint8_t mode = 0);
    bool pushReport(const HidProtocol::Report& report);
    // Raw bytes of any length, 0 included; a read returns at most its
    // capacity of them.
    bool pushRaw(const std::vector<std::uint8_t>& bytes);
    std::size_t pendingInput() const;
    // Real-time wait until every queued report was read.
    bool waitForInputDrained(std::chrono::milliseconds timeout) const;
    // While set, reads fail as on a driver error; the panel stays plugged.
    void failReads(bool on);

    // --- Identity and feature reports ------------------------------------
    // Served as given, byte 0 included, when the host asks for `id`.
    void setFeatureReport(std::uint8_t id, const HidProtocol::Report& bytes);
    void removeFeatureReport(std::uint8_t id);
    void setIdentity(const std::array<std::uint8_t, 8>& boardId);
    void setProtocol(const HidProtocol::ProtocolInfo& info);
    // While set, every feature query fails.
    void failFeatureReports(bool on);
    void setSerial(const std::string& serial);

    // --- Opening ---------------------------------------------------------
    void failProbe(bool on);      // the path enumerates but cannot be probed
    void failReadOpen(bool on);   // openRead returns null
    void failWriteOpen(bool on);  // openWrite returns null
    int openReadHandles() const;
    int openWriteHandles() const;

    // --- Output, host to panel -------------------------------------------
    // A non-zero code makes every write fail with it; 0 lets writes succeed.
    void failWrites(unsigned long errorCode);
    void failSetOutputReport(unsigned long errorCode);
    // While on, writes block until stallWrites(false), an unplug or the
    // handle's cancel().
    void stallWrites(bool on);
    int stalledWrites() const;
    // Real-time wait until `count` writers are blocked by stallWrites.
    bool waitForStalledWrites(int count, std::chrono::milliseconds timeout) const;
    // The latest reports received (as many as the bus keeps), oldest first.
    std::vector<ReceivedReport> received() const;
    // Every report received since the panel was added or last cleared,
    // also those no longer kept.
    std::size_t receivedCount() const;
    // Real-time wait until receivedCount() reaches `count`.
    bool waitForReceived(std::size_t count, std::chrono::milliseconds timeout) const;
    void clearReceived();

private:
    friend class VirtualHidBus;
    VirtualPanel(std::shared_ptr<detail::BusCore> core, detail::PanelState* state)
        : core_(std::move(core)), state_(state) {}

    std::shared_ptr<detail::BusCore> core_;
    detail::PanelState* state_;  // owned by core_
};

class VirtualHidBus final : public platform::HidBus {
public:
    // Reads time out by `clock`, so a ManualClock controls the read wait.
    // Each panel keeps its latest `keptReports` received reports.
    explicit VirtualHidBus(Clock& clock = Clock::system(), std::size_t keptReports = kKeptReports);
    ~VirtualHidBus() override;

    // Adds a panel; a path already on the bus returns that panel unchanged.
    VirtualPanel addPanel(const VirtualPanelSpec& description);
    std::optional<VirtualPanel> find(const std::string& path) const;
    std::vector<VirtualPanel> panels() const;

    // While set, enumeration returns nothing (the system cannot list devices).
    void failEnumeration(bool on);
    // Called after a panel recorded a report, on the writing thread (a panel's
    // writer, or whoever sends BOOTSEL, with the panel's handle lock held: do
    // not call back into the manager).
    void setReceiveObserver(
        std::function<void(const std::string& path, const ReceivedReport& report)> observer);

    std::vector<std::string> enumerate() override;
    bool probe(const std::string& path, std::uint16_t& vendorId, std::uint16_t& productId) override;
    std::unique_ptr<platform::HidReadHandle> openRead(const std::string& path) override;
    std::unique_ptr<platform::HidWriteHandle> openWrite(const std::string& path) override;

    VirtualHidBus(const VirtualHidBus&) = delete;
    VirtualHidBus& operator=(const VirtualHidBus&) = delete;

private:
    std::shared_ptr<detail::BusCore> core_;
};

}  // namespace emulation
