#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
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

// A panel opened or closed by the manager.
struct PanelChange {
    enum class Kind { Added, Removed };
    Kind kind = Kind::Added;
    std::string name;
    std::int32_t index = -1;
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

// Finds the panels by vendor and product id, opens each with its own reader
// thread, hands decoded events to the sink, rescans periodically, and writes
// the output reports (simulator status, LED state, BOOTSEL).
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
// Repeated warnings (open failures at every scan, failing output writes)
// go through a RepeatLimiter: the first is written, then one summary a
// minute.
//
// Threads: start/stop/setTrace from the owner's thread; scan() from the scan
// thread and the device watcher's thread (concurrent scans never open a
// panel twice); the queries and output operations from any thread. The
// queries read a list published under a lock of their own, so they never
// wait for a scan or an output write (which hold the device lock). The sink
// runs on the panel's reader thread without any manager lock held; it must
// stay cheap and must not call into the manager or wait for a thread that
// does: a scan joins the reader while it holds the manager's lock. stop()
// must not be called from the scan thread, a reader thread or the sink.
//
// Failures are logged with the program's fixed texts; only start() reports
// one to the caller ("Invalid VID/PID").
class HidManager {
public:
    using EventSink = std::function<void(const HidProtocol::HidEvent&, const std::string& name,
                                         std::int32_t index)>;
    // Told of every opening (before any of its input reaches the sink) and
    // closing (after its reader was joined) of a panel, stop() included.
    // Runs on the thread that opens or closes the panel with the manager's
    // lock held: it must be cheap and must not call into the manager.
    using PanelListener = std::function<void(const PanelChange&)>;

    explicit HidManager(platform::HidBus& bus, Clock& clock = Clock::system());
    ~HidManager();  // stops

    void setTrace(bool on);
    // Call before start(); kept across stop and start like the sink.
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

    // Writes "sim_status" to every panel when the status changes; remembered
    // for panels that connect later.
    void setSimConnected(bool connected) EXCLUDES(deviceLock_);
    // Writes "led_ctl" to the panel selected by name, else by index; an
    // identical report to the last one is not written again. False when no
    // panel is selected or it has no write handle.
    bool writeLedCommand(const std::string& name, std::int32_t index, const LedCommand& command)
        EXCLUDES(deviceLock_);
    // The next LED command for the selected panel is written even if equal.
    void forgetLedCommand(const std::string& name, std::int32_t index) EXCLUDES(deviceLock_);
    // Asks every panel to restart into its boot loader.
    void sendBootsel() EXCLUDES(deviceLock_);

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
    using DeviceTable = std::map<std::string, std::unique_ptr<HidDevice>>;

    void scanLoop();
    std::vector<std::string> findMatches(std::uint16_t vid, std::uint16_t pid);
    void applyScanLocked(const std::vector<std::string>& matches) REQUIRES(deviceLock_);
    void deferRetryLocked(const HidDevice& device) REQUIRES(deviceLock_);
    bool retryPendingLocked(const std::string& path) const REQUIRES(deviceLock_);
    void connectLocked(const std::string& path) REQUIRES(deviceLock_);
    void identifyLocked(HidDevice& device) REQUIRES(deviceLock_);
    void disconnectLocked(HidDevice& device) REQUIRES(deviceLock_);
    void publishLocked() REQUIRES(deviceLock_);
    void readerLoop(HidDevice* device);
    HidDevice* selectLocked(const std::string& name, std::int32_t index) REQUIRES(deviceLock_);
    void writeReportLocked(HidDevice& device, const char* reportName,
                           const HidProtocol::Report& report, bool warnOnFailure)
        REQUIRES(deviceLock_);

    platform::HidBus& bus_;
    Clock& clock_;

    Mutex deviceLock_;
    std::condition_variable wake_;  // paces the scan thread; signalled by stop
    HidSettings settings_ GUARDED_BY(deviceLock_);
    EventSink sink_ GUARDED_BY(deviceLock_);
    PanelListener listener_ GUARDED_BY(deviceLock_);
    DeviceTable devices_ GUARDED_BY(deviceLock_);
    HidProtocol::Report lastSimStatus_ GUARDED_BY(deviceLock_){};
    bool simStatusValid_ GUARDED_BY(deviceLock_) = false;
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

    Mutex listLock_ ACQUIRED_AFTER(deviceLock_);
    std::vector<HidDeviceInfo> published_ GUARDED_BY(listLock_);

    RepeatLimiter warnings_;

    std::atomic<bool> running_{false};
    std::atomic<bool> trace_{false};
    std::thread scanThread_;  // owner's thread only
};
