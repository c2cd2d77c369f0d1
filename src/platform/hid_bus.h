#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The machine's HID devices, as the HID manager sees them. An interface
// object rather than a link-time pair, because tests and the sandbox run
// many independent in-memory buses (src/emulation) beside the real one.
//
// Threads: a bus may be used from several threads at once (the scan thread
// and the device watcher's thread scan concurrently). A handle is used by one
// thread at a time, except cancel(), which any thread may call while another
// thread is inside read() or write().
namespace platform {

// A handle opened for reading (overlapped on Windows). Also used for the
// serial-number and feature-report queries.
class HidReadHandle {
public:
    enum class ReadResult { Data, Timeout, Failed };

    // Cancels an outstanding read and waits for it to complete before the
    // handle and the read's buffer are released.
    virtual ~HidReadHandle() = default;

    // UTF-8 serial-number string; false when unavailable.
    virtual bool serialNumber(std::string& utf8) = 0;
    // buffer[0] holds the wanted report ID on entry; false when the report
    // cannot be read.
    virtual bool getFeature(std::uint8_t* buffer, std::size_t length) = 0;

    // Waits at most `timeout` for one input report of up to `capacity` bytes.
    // Data: `bytesRead` bytes are in `buffer` (0 is possible). Timeout keeps
    // the outstanding read in place: the next call goes on waiting for the
    // same read, so no report is lost between calls. Failed: the read failed,
    // the device is gone, or the handle was cancelled; the reader then ends.
    // Pass the same capacity on every call.
    virtual ReadResult read(std::uint8_t* buffer, std::size_t capacity, std::size_t& bytesRead,
                            std::chrono::milliseconds timeout) = 0;

    // Cancels the outstanding read from any thread and makes every later
    // read() return Failed at once: a blocked read() returns promptly, and a
    // read() that was about to start never blocks (CancelIoEx on Windows).
    virtual void cancel() = 0;
};

// A handle for writes, each of which returns when it is done (a hung device
// can hold one up for seconds, or for good on Windows until cancel()).
class HidWriteHandle {
public:
    virtual ~HidWriteHandle() = default;

    // One WriteFile of the whole report. On failure `error` holds the
    // system error code; `written` is what the system reported.
    virtual bool write(const std::uint8_t* data, std::size_t length, std::size_t& written,
                       unsigned long& error) = 0;
    // HidD_SetOutputReport (Windows) or an equivalent; `error` as above.
    virtual bool setOutputReport(const std::uint8_t* data, std::size_t length,
                                 unsigned long& error) = 0;

    // From any thread: every later write() and setOutputReport() fails at
    // once, and a write() in progress is aborted (CancelIoEx on Windows,
    // whose write then fails with ERROR_OPERATION_ABORTED). On Linux a
    // hidraw write already in the kernel cannot be aborted: it ends by
    // itself within the USB stack's time-out (5 s). A setOutputReport()
    // in progress is aborted on Windows when it has reached the driver.
    virtual void cancel() = 0;
};

class HidBus {
public:
    virtual ~HidBus() = default;

    // Device paths of the present HID interfaces, in enumeration order.
    // Empty when the system cannot list them.
    virtual std::vector<std::string> enumerate() = 0;
    // Opens the path (read/write, else read-only), reads vendor and product
    // ids and closes it again. False when it cannot be opened or read.
    virtual bool probe(const std::string& path, std::uint16_t& vendorId,
                       std::uint16_t& productId) = 0;
    // Null when the path cannot be opened (read/write, then read-only).
    virtual std::unique_ptr<HidReadHandle> openRead(const std::string& path) = 0;
    // Null when the path cannot be opened for writing.
    virtual std::unique_ptr<HidWriteHandle> openWrite(const std::string& path) = 0;
};

// The operating system's HID devices (SetupAPI/hid.dll on Windows, hidraw on
// Linux). Handles opened through it may outlive it.
std::unique_ptr<HidBus> createSystemHidBus();

}  // namespace platform
