#include <algorithm>
#include <cwchar>
#include <vector>

#include "common/mutex.h"
#include "platform/win32/win32_hid.h"

namespace platform {
namespace win32 {
namespace {

std::string toUtf8(const wchar_t* text, std::size_t length) {
    if (length == 0) return {};
    const int wide = static_cast<int>(length);
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, wide, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return {};
    std::string utf8(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, wide, &utf8[0], size, nullptr, nullptr);
    return utf8;
}

// One overlapped read at a time, kept across time-outs: a report that
// arrives between two read() calls completes the read already in flight
// instead of being lost. The read's buffer and OVERLAPPED live in the handle,
// which cancels the read and waits for it before closing anything.
class Win32ReadHandle final : public HidReadHandle {
public:
    Win32ReadHandle(UniqueHandle device, UniqueHandle event)
        : device_(std::move(device)), event_(std::move(event)) {}

    ~Win32ReadHandle() override {
        MutexLock lock(mutex_);
        if (pending_) drainLocked();
    }

    bool serialNumber(std::string& utf8) override {
        wchar_t buffer[256] = {};  // 512 bytes, as the HID class driver expects
        if (!HidD_GetSerialNumberString(device_.get(), buffer, sizeof(buffer))) return false;
        // The device may fill the whole buffer without a terminator.
        utf8 = toUtf8(buffer, wcsnlen(buffer, sizeof(buffer) / sizeof(buffer[0])));
        return true;
    }

    bool getFeature(std::uint8_t* buffer, std::size_t length) override {
        return HidD_GetFeature(device_.get(), buffer, static_cast<ULONG>(length)) != FALSE;
    }

    ReadResult read(std::uint8_t* buffer, std::size_t capacity, std::size_t& bytesRead,
                    std::chrono::milliseconds timeout) override {
        bytesRead = 0;
        if (!startRead(capacity)) return ReadResult::Failed;
        const DWORD wait = WaitForSingleObject(event_.get(), toWaitMs(timeout));
        if (wait == WAIT_TIMEOUT) return ReadResult::Timeout;
        MutexLock lock(mutex_);
        if (wait != WAIT_OBJECT_0) {
            drainLocked();
            return ReadResult::Failed;
        }
        DWORD count = 0;
        const BOOL ok = GetOverlappedResult(device_.get(), &overlapped_, &count, FALSE);
        pending_ = false;
        if (!ok) return ReadResult::Failed;
        bytesRead = std::min<std::size_t>(count, capacity);
        std::copy_n(buffer_.begin(), bytesRead, buffer);
        return ReadResult::Data;
    }

    void cancel() override {
        MutexLock lock(mutex_);
        cancelled_ = true;
        // TRUE, or FALSE with ERROR_NOT_FOUND when the read just completed
        // (Wine answers TRUE even then): either way nothing is left to cancel.
        if (pending_) CancelIoEx(device_.get(), &overlapped_);
    }

private:
    static DWORD toWaitMs(std::chrono::milliseconds timeout) {
        const auto ms = std::max<std::chrono::milliseconds::rep>(timeout.count(), 0);
        return static_cast<DWORD>(std::min<std::chrono::milliseconds::rep>(ms, INFINITE - 1));
    }

    // Starts a read unless one is already in flight. Checking the cancel flag
    // and issuing ReadFile under the same lock as cancel() means a read is
    // either started before the cancel (and aborted by it) or never started.
    bool startRead(std::size_t capacity) EXCLUDES(mutex_) {
        MutexLock lock(mutex_);
        if (cancelled_) return false;
        if (pending_) return true;
        buffer_.assign(capacity, 0);
        ResetEvent(event_.get());
        overlapped_ = OVERLAPPED{};
        overlapped_.hEvent = event_.get();
        if (!ReadFile(device_.get(), buffer_.data(), static_cast<DWORD>(buffer_.size()), nullptr,
                      &overlapped_) &&
            GetLastError() != ERROR_IO_PENDING) {
            return false;
        }
        // Also when ReadFile completed at once: the event is set and the
        // result is fetched like any other completion.
        pending_ = true;
        return true;
    }

    // Cancels the read in flight and waits until the system is done with it.
    void drainLocked() REQUIRES(mutex_) {
        CancelIoEx(device_.get(), &overlapped_);
        DWORD count = 0;
        GetOverlappedResult(device_.get(), &overlapped_, &count, TRUE);
        pending_ = false;
    }

    UniqueHandle device_;
    UniqueHandle event_;  // manual-reset, owned by the single overlapped read
    Mutex mutex_;
    // The system's while a read is in flight, otherwise guarded by mutex_.
    OVERLAPPED overlapped_ GUARDED_BY(mutex_){};
    std::vector<std::uint8_t> buffer_ GUARDED_BY(mutex_);
    bool pending_ GUARDED_BY(mutex_) = false;
    bool cancelled_ GUARDED_BY(mutex_) = false;
};

}  // namespace

std::unique_ptr<HidReadHandle> openReadHandle(const std::string& path) {
    UniqueHandle device = openDevicePath(path, FILE_FLAG_OVERLAPPED, true);
    if (!device.valid()) return nullptr;
    UniqueHandle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!event.valid()) return nullptr;
    return std::make_unique<Win32ReadHandle>(std::move(device), std::move(event));
}

}  // namespace win32
}  // namespace platform
