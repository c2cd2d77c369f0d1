#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/clock.h"
#include "common/mutex.h"
#include "hid/hid_protocol.h"
#include "hid/panel_indices.h"
#include "log/repeat_limiter.h"
#include "platform/hid_bus.h"

struct HidSettings {
    std::string vid;
    std::string pid;
    std::int32_t readIntervalMs = 2;
    std::int32_t scanIntervalMs = 1000;
};

struct HidDeviceInfo {
    std::string name;
    std::int32_t index = -1;
    // Unique to this opening of the panel in the manager's life (from 1): a
    // panel that comes back under its old index has a new one.
    std::uint64_t connection = 0;
};

// What a panel says about itself when it is opened.
struct PanelIdentity {
    std::string name;    // board id, else serial number (outsideText), else path
    std::string serial;  // empty when the panel gives none
    HidProtocol::DeviceIdentity identity;
    bool identityValid = false;  // it answered the identity feature report
    HidProtocol::ProtocolInfo protocol;
    bool protocolValid = false;  // it answered the protocol feature report
};

// A panel opened or closed by the manager, as its listener hears of it.
struct PanelChange {
    enum class Kind { Added, Removed } kind = Kind::Added;
    std::string name;
    std::int32_t index = -1;
    std::uint64_t connection = 0;  // as in HidDeviceInfo
};
using PanelListener = std::function<void(const PanelChange&)>;

// Finds the panels by vendor and product id, opens each with its own reader
// and writer threads, hands decoded events to the sink, tells the panel
// listener of every panel opened and closed, rescans periodically, and
// writes the output reports (simulator status, LED state, BOOTSEL).
//
// Ownership: the bus and the clock are borrowed and must outlive the manager.
// Panels are named by their board id, else their serial number, else their
// path. Indices are stable (PanelIndices): a panel that comes back (same
// board id, or same path when it has none) gets its old index, also after a
// stop and start; a new panel the lowest index no remembered panel holds.
//
// A panel whose reads fail while it stays present is closed and reopened
// after a pause that starts at 1 s and doubles up to 60 s while it keeps
// failing without delivering a report; one that delivered a report since it
// was opened is reopened at the next scan (a quick replug looks the same).
//
// Output: every panel with a write handle has an outbox and a writer thread,
// the only thread that writes the LED and status reports to it. The outbox
// holds at most one LED report and one status report; a newer one replaces
// the one still waiting (the latest wins), and each pass of the writer
// writes the waiting LED report before the waiting status. An LED report
// equal to the last one the writer took is not written again until
// forgetLedCommand is called; a failed one is remembered all the same (not
// retried until it changes or is forgotten). Closing a panel gives its
// writer kWriterDrain to write what waits (the status "not connected" at a
// shutdown, say); then the write handle is cancelled and the writer joined.
// A cancelled write returns at once on Windows (CancelIoEx); on Linux a
// hidraw write already in the kernel ends by itself within the USB stack's
// time-out of a few seconds, which the close then waits for.
//
// Repeated warnings (open failures at every scan, failing output writes)
// go through a RepeatLimiter: the first is written, then one summary a
// minute.
//
// Threads: start/stop/setTrace/setPanelListener from the owner's thread;
// scan() from the scan thread and the device watcher's thread (concurrent
// scans never open a panel twice); the queries and output operations from
// any thread. The queries, setSimConnected, writeLedCommand and
// forgetLedCommand find the panels in a list published under listLock_,
// which is never held during a scan, a device write or a call out, and hand
// reports to the outbox under its own lock, never held around I/O either.
// Their worst case is a short lock: a wait for another holder of one of
// those two locks to copy a few values; never a device write or a scan.
// sendBootsel writes on the calling thread, one panel after the other,
// and waits for a write of the panel's writer in progress (a hung panel
// holds it up until it is closed).
//
// The sink runs on the panel's reader thread without any manager lock held;
// it must stay cheap and must not call into the manager or wait for a thread
// that does: a scan joins the reader while it holds the manager's lock.
//
// The panel listener runs on whichever thread opens or closes the panel (a
// scan, the device watcher, start or stop) while the manager's device lock
// is held: it must stay cheap (queue the change and return) and must not
// call into the manager; a lock it takes must never be held around a call
// to start, stop, scan or setPanelListener. Added comes once the panel is listed and its
// outbox takes reports, before its reader starts, so it precedes every
// event of that opening at the sink; Removed comes once the panel is no
// longer listed and its reader and writer are joined, so no event of that
// opening follows it. stop() closes every open panel, each with its Removed.
//
// stop() must not be called from the scan thread, a reader or writer
// thread, the sink or the listener.
//
// Lock order: deviceLock_, then listLock_, then a panel's outbox lock;
// deviceLock_, then a panel's handle lock (held around each write to the
// panel); a repeated warning's limiter lock, then the log's.
//
// Failures are logged with the program's fixed texts; only start() reports
// one to the caller ("Invalid VID/PID").
class HidManager {
public:
    using EventSink = std::function<void(const HidProtocol::HidEvent&, const std::string& name,
                                         std::int32_t index)>;

    // How long closing a panel waits for its writer to write what waits
    // before it cancels the write in progress.
    static constexpr std::chrono::milliseconds kWriterDrain{200};

    explicit HidManager(platform::HidBus& bus, Clock& clock = Clock::system());
    ~HidManager();  // stops

    void setTrace(bool on);
    // Kept across stop and start like the sink; set it before start().
    void setPanelListener(PanelListener listener) EXCLUDES(deviceLock_);
    // Scans once on the calling thread, then starts the scan thread. On a
    // running manager returns true and discards `sink`. The settings and the
    // sink are kept until the next start after a stop.
    bool start(const HidSettings& settings, EventSink sink, std::string& error)
        EXCLUDES(deviceLock_);
    // Disconnects every panel and joins every thread; idempotent.
    void stop() EXCLUDES(deviceLock_);
    // One rescan: panels whose path disappeared (or whose reader failed) are
    // disconnected, new matching paths are connected. Does nothing while the
    // manager is stopped.
    void scan() EXCLUDES(deviceLock_);

    // Open panels in byte-wise path order. Never waits on the device lock.
    std::vector<HidDeviceInfo> listDevices() EXCLUDES(listLock_);
    std::size_t deviceCount() EXCLUDES(listLock_);

    // The output operations never wait for the device lock or a write: they
    // hand the report to the panels' writers (see Output above).
    //
    // Sends "sim_status" to every panel when the status changes; remembered
    // for panels that connect later, whose first write it is (a failure of
    // that one is not warned about).
    void setSimConnected(bool connected) EXCLUDES(listLock_);
    // Sends "led_ctl" to the panel selected by name, else by index. False
    // when no panel is selected or it has no write handle.
    bool writeLedCommand(const std::string& name, std::int32_t index, const LedCommand& command)
        EXCLUDES(listLock_);
    // The next LED command for the selected panel is written even if equal.
    void forgetLedCommand(const std::string& name, std::int32_t index) EXCLUDES(listLock_);
    // Asks every panel to restart into its boot loader, on the calling thread.
    void sendBootsel() EXCLUDES(listLock_);
    // Real-time wait until every open panel's writer has written what was
    // handed to it before the call (nothing waits, no write in progress);
    // false on time-out. For tests that look at what the panels received.
    bool waitForOutputIdle(std::chrono::milliseconds timeout) EXCLUDES(listLock_);

    // A vendor or product id as sscanf "%x" reads it (leading white space,
    // optional 0x, stops at the first non-hex character), non-empty and at
    // most 0xFFFF.
    static bool parseIdentifier(const std::string& text, std::uint16_t& value);
    // Asks the panel at `path`, through its open read handle, for its serial
    // number and its identity and protocol feature reports, as a connect does.
    static PanelIdentity identify(platform::HidReadHandle& handle, const std::string& path);

    HidManager(const HidManager&) = delete;
    HidManager& operator=(const HidManager&) = delete;

private:
    struct HidDevice;
    class Outbox;
    using DeviceTable = std::map<std::string, std::unique_ptr<HidDevice>>;
    // A listed panel: what the queries report and where its output goes
    // (null without a write handle).
    struct Listed {
        HidDeviceInfo info;
        std::shared_ptr<Outbox> outbox;
    };

    void scanLoop();
    std::vector<std::string> findMatches(std::uint16_t vid, std::uint16_t pid);
    void applyScanLocked(const std::vector<std::string>& matches) REQUIRES(deviceLock_);
    void deferRetryLocked(const HidDevice& device) REQUIRES(deviceLock_);
    bool retryPendingLocked(const std::string& path) const REQUIRES(deviceLock_);
    void connectLocked(const std::string& path) REQUIRES(deviceLock_);
    std::unique_ptr<HidDevice> openLocked(const std::string& path) REQUIRES(deviceLock_);
    bool startWriterLocked(HidDevice& device) REQUIRES(deviceLock_);
    void identifyLocked(HidDevice& device) REQUIRES(deviceLock_);
    DeviceTable::iterator disconnectLocked(DeviceTable::iterator it) REQUIRES(deviceLock_);
    void closeLocked(HidDevice& device) REQUIRES(deviceLock_);
    void notifyLocked(PanelChange::Kind kind, const HidDevice& device) REQUIRES(deviceLock_);
    void publishLocked(Outbox* added = nullptr) REQUIRES(deviceLock_) EXCLUDES(listLock_);
    void readerLoop(HidDevice* device);
    void writerLoop(Outbox* outbox);
    void writeReport(Outbox& outbox, const char* reportName, const HidProtocol::Report& report,
                     bool warnOnFailure);
    std::shared_ptr<Outbox> selectOutbox(const std::string& name, std::int32_t index)
        EXCLUDES(listLock_);
    std::vector<std::shared_ptr<Outbox>> listedOutboxes() EXCLUDES(listLock_);

    platform::HidBus& bus_;
    Clock& clock_;

    Mutex deviceLock_;
    std::condition_variable wake_;  // paces the scan thread; signalled by stop
    HidSettings settings_ GUARDED_BY(deviceLock_);
    EventSink sink_ GUARDED_BY(deviceLock_);
    PanelListener listener_ GUARDED_BY(deviceLock_);
    DeviceTable devices_ GUARDED_BY(deviceLock_);
    PanelIndices indices_ GUARDED_BY(deviceLock_);
    std::uint64_t connections_ GUARDED_BY(deviceLock_) = 0;
    // Panels whose reads failed while present, by path: when to reopen them
    // and the pause that led there. Only present paths are kept.
    struct RetryPause {
        Clock::Duration pause;
        Clock::TimePoint notBefore;
    };
    std::map<std::string, RetryPause> retries_ GUARDED_BY(deviceLock_);
    // Scans number themselves when they start enumerating; a scan whose
    // result is older than the one already applied is discarded, so a slow
    // scan never undoes what a newer one found.
    std::uint64_t scanStarted_ GUARDED_BY(deviceLock_) = 0;
    std::uint64_t scanApplied_ GUARDED_BY(deviceLock_) = 0;

    // The open panels in path order, and the simulator status every outbox
    // gets: a new outbox is listed and given the status under this lock, so
    // no status change passes a panel by.
    Mutex listLock_ ACQUIRED_AFTER(deviceLock_);
    std::vector<Listed> listed_ GUARDED_BY(listLock_);
    std::optional<HidProtocol::Report> simStatus_ GUARDED_BY(listLock_);

    RepeatLimiter warnings_;

    std::atomic<bool> running_{false};
    std::atomic<bool> trace_{false};
    std::thread scanThread_;  // owner's thread only
};
