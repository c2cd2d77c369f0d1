#include <vector>

#include "common/mutex.h"
#include "platform/win32/win32_hid.h"

namespace platform {
namespace win32 {
namespace {

// Writes are overlapped so that cancel() can abort one in progress. Checking
// the cancel flag and issuing WriteFile under the same lock as cancel()
// means a write is either started before the cancel (and aborted by it) or
// never started. The OVERLAPPED and its event belong to the one write in
// flight; write() waits for its completion before it returns.
class Win32WriteHandle final : public HidWriteHandle {
public:
    Win32WriteHandle(UniqueHandle device, UniqueHandle event)
        : device_(std::move(device)), event_(std::move(event)) {}

    bool write(const std::uint8_t* data, std::size_t length, std::size_t& written,
               unsigned long& error) override {
        written = 0;
        if (!startWrite(data, length, error)) return false;
        WaitForSingleObject(event_.get(), INFINITE);
        MutexLock lock(mutex_);
        DWORD count = 0;
        const BOOL ok = GetOverlappedResult(device_.get(), &overlapped_, &count, FALSE);
        written = count;
        if (!ok) error = GetLastError();
        return ok != FALSE;
    }

    bool setOutputReport(const std::uint8_t* data, std::size_t length,
                         unsigned long& error) override {
        if (isCancelled()) {
            error = ERROR_OPERATION_ABORTED;
            return false;
        }
        // The call takes a non-const buffer.
        std::vector<std::uint8_t> report(data, data + length);
        if (HidD_SetOutputReport(device_.get(), report.data(), static_cast<ULONG>(length))) {
            return true;
        }
        error = GetLastError();
        return false;
    }

    // Every request of this process on the handle: the write in flight and a
    // HidD_SetOutputReport that reached the driver.
    void cancel() override {
        MutexLock lock(mutex_);
        cancelled_ = true;
        CancelIoEx(device_.get(), nullptr);
    }

private:
    bool startWrite(const std::uint8_t* data, std::size_t length, unsigned long& error)
        EXCLUDES(mutex_) {
        MutexLock lock(mutex_);
        if (cancelled_) {
            error = ERROR_OPERATION_ABORTED;
            return false;
        }
        ResetEvent(event_.get());
        overlapped_ = OVERLAPPED{};
        overlapped_.hEvent = event_.get();
        if (!WriteFile(device_.get(), data, static_cast<DWORD>(length), nullptr, &overlapped_)) {
            const DWORD code = GetLastError();
            if (code != ERROR_IO_PENDING) {
                error = code;
                return false;
            }
        }
        // Also when WriteFile completed at once: the event is set.
        return true;
    }

    bool isCancelled() EXCLUDES(mutex_) {
        MutexLock lock(mutex_);
        return cancelled_;
    }

    UniqueHandle device_;
    UniqueHandle event_;  // manual-reset, owned by the write in flight
    Mutex mutex_;
    // The system's while a write is in flight, otherwise guarded by mutex_.
    OVERLAPPED overlapped_ GUARDED_BY(mutex_){};
    bool cancelled_ GUARDED_BY(mutex_) = false;
};

}  // namespace

std::unique_ptr<HidWriteHandle> openWriteHandle(const std::string& path) {
    UniqueHandle device = openDevicePath(path, FILE_FLAG_OVERLAPPED, false);
    if (!device.valid()) return nullptr;
    UniqueHandle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!event.valid()) return nullptr;
    return std::make_unique<Win32WriteHandle>(std::move(device), std::move(event));
}

}  // namespace win32
}  // namespace platform
