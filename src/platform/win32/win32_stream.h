#pragma once

// Shared pieces of the Windows byte streams: sockets and named pipes both
// run one overlapped read and one overlapped write at a time, each waited
// for together with a cancel event.

#include <winsock2.h>
#include <windows.h>

#include <vector>

#include "common/mutex.h"
#include "platform/stream_transport.h"

namespace platform {
namespace win32 {

class ScopedHandle {
public:
    ScopedHandle() = default;
    explicit ScopedHandle(HANDLE handle) : handle_(handle) {}
    ~ScopedHandle() { reset(); }
    ScopedHandle(ScopedHandle&& other) noexcept : handle_(other.release()) {}
    ScopedHandle& operator=(ScopedHandle&& other) noexcept {
        if (this != &other) {
            reset();
            handle_ = other.release();
        }
        return *this;
    }
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;

    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
    HANDLE release() {
        HANDLE handle = handle_;
        handle_ = nullptr;
        return handle;
    }
    void reset() {
        if (valid()) CloseHandle(handle_);
        handle_ = nullptr;
    }

private:
    HANDLE handle_ = nullptr;
};

// A manual-reset event, unset; invalid when the system refused one.
ScopedHandle createEvent();

// Milliseconds for the Wait functions; kWaitForever becomes INFINITE.
DWORD toWaitMs(std::chrono::milliseconds timeout);

// Text for a Win32 or Winsock error code, prefixed with `what`.
std::string errorText(const std::string& what, DWORD code);

// The read/write/cancel logic over an overlapped handle. A subclass
// supplies the system calls; its destructor must call finishIo() before it
// closes the handle.
class OverlappedStream : public ByteStream {
public:
    bool init(std::string& error);

    ReadResult receive(std::uint8_t* buffer, std::size_t capacity, std::size_t& received,
                       std::chrono::milliseconds timeout) override;
    bool sendAll(const std::uint8_t* data, std::size_t size, std::string& error) override;
    void cancel() override;

protected:
    // Start an overlapped operation: true when it is in flight or done
    // (its event is set either way), false with the error code.
    virtual bool startRead(std::uint8_t* buffer, DWORD size, OVERLAPPED* ov, DWORD& error) = 0;
    virtual bool startWrite(const std::uint8_t* data, DWORD size, OVERLAPPED* ov, DWORD& error) = 0;
    // The result of a completed operation: false with the error code.
    virtual bool result(OVERLAPPED* ov, DWORD& bytes, DWORD& error) = 0;
    // Asks the system to abort the operation (it still completes).
    virtual void cancelIo(OVERLAPPED* ov) = 0;
    // What a failed read means: Closed for an orderly end, else Failed.
    virtual ReadResult readFailure(DWORD error) const = 0;
    // Whether a successful read of 0 bytes is the end of the stream
    // (sockets) or an empty message to skip (pipes).
    virtual bool emptyReadIsEnd() const = 0;

    // Cancels a read still in flight and waits for it.
    void finishIo() EXCLUDES(mutex_);

private:
    // Starts a read unless one is in flight; false with a result otherwise.
    bool ensureReadLocked(ReadResult& failure) REQUIRES(mutex_);
    // Waits until the in-flight operation `ov` completed.
    void drainLocked(OVERLAPPED* ov) REQUIRES(mutex_);
    std::size_t takeAvailable(std::uint8_t* buffer, std::size_t capacity);
    bool writeOnce(const std::uint8_t* data, DWORD size, DWORD& written, std::string& error)
        EXCLUDES(mutex_);

    Mutex mutex_;
    ScopedHandle readEvent_;
    ScopedHandle writeEvent_;
    ScopedHandle cancelEvent_;
    OVERLAPPED readOv_ GUARDED_BY(mutex_){};
    OVERLAPPED writeOv_ GUARDED_BY(mutex_){};
    std::vector<std::uint8_t> readBuffer_;  // the system's while a read is in flight
    std::size_t readOffset_ = 0;            // receive() thread only
    std::size_t readAvailable_ = 0;         // likewise
    bool readPending_ GUARDED_BY(mutex_) = false;
    bool cancelled_ GUARDED_BY(mutex_) = false;
};

}  // namespace win32
}  // namespace platform
