#include <algorithm>

#include "platform/environment.h"
#include "platform/win32/win32_stream.h"

namespace platform {
namespace win32 {

namespace {

// Large enough for any message in one read; a longer pipe message arrives
// in parts (ERROR_MORE_DATA), a longer socket read in several reads.
constexpr DWORD kReadBufferSize = 64 * 1024;

}  // namespace

ScopedHandle createEvent() {
    return ScopedHandle(CreateEventA(nullptr, TRUE, FALSE, nullptr));
}

DWORD toWaitMs(std::chrono::milliseconds timeout) {
    if (timeout == kWaitForever) return INFINITE;
    const auto ms = std::max<std::chrono::milliseconds::rep>(timeout.count(), 0);
    return static_cast<DWORD>(std::min<std::chrono::milliseconds::rep>(ms, INFINITE - 1));
}

std::string errorText(const std::string& what, DWORD code) {
    return what + ": " + systemErrorText(code);
}

bool OverlappedStream::init(std::string& error) {
    readEvent_ = createEvent();
    writeEvent_ = createEvent();
    cancelEvent_ = createEvent();
    if (!readEvent_.valid() || !writeEvent_.valid() || !cancelEvent_.valid()) {
        error = errorText("CreateEvent", GetLastError());
        return false;
    }
    readBuffer_.resize(kReadBufferSize);
    return true;
}

ByteStream::ReadResult OverlappedStream::receive(std::uint8_t* buffer, std::size_t capacity,
                                                 std::size_t& received,
                                                 std::chrono::milliseconds timeout) {
    received = 0;
    for (;;) {
        if (readAvailable_ > 0) {
            received = takeAvailable(buffer, capacity);
            return ReadResult::Data;
        }
        {
            MutexLock lock(mutex_);
            ReadResult failure = ReadResult::Failed;
            if (!ensureReadLocked(failure)) return failure;
        }
        const HANDLE waits[2] = {readEvent_.get(), cancelEvent_.get()};
        const DWORD wait = WaitForMultipleObjects(2, waits, FALSE, toWaitMs(timeout));
        if (wait == WAIT_TIMEOUT) return ReadResult::Timeout;
        MutexLock lock(mutex_);
        if (wait != WAIT_OBJECT_0) {
            drainLocked(&readOv_);
            readPending_ = false;
            return ReadResult::Failed;
        }
        DWORD bytes = 0;
        DWORD error = 0;
        readPending_ = false;
        if (!result(&readOv_, bytes, error)) return readFailure(error);
        if (bytes == 0 && emptyReadIsEnd()) return ReadResult::Closed;
        readOffset_ = 0;
        readAvailable_ = bytes;
    }
}

bool OverlappedStream::ensureReadLocked(ReadResult& failure) {
    failure = ReadResult::Failed;
    if (cancelled_) return false;
    if (readPending_) return true;
    ResetEvent(readEvent_.get());
    readOv_ = OVERLAPPED{};
    readOv_.hEvent = readEvent_.get();
    DWORD error = 0;
    if (!startRead(readBuffer_.data(), static_cast<DWORD>(readBuffer_.size()), &readOv_, error)) {
        failure = readFailure(error);
        return false;
    }
    readPending_ = true;
    return true;
}

std::size_t OverlappedStream::takeAvailable(std::uint8_t* buffer, std::size_t capacity) {
    const std::size_t n = std::min(capacity, readAvailable_);
    std::copy_n(readBuffer_.data() + readOffset_, n, buffer);
    readOffset_ += n;
    readAvailable_ -= n;
    return n;
}

bool OverlappedStream::sendAll(const std::uint8_t* data, std::size_t size, std::string& error) {
    std::size_t sent = 0;
    do {
        const DWORD chunk =
            static_cast<DWORD>(std::min<std::size_t>(size - sent, kReadBufferSize * 16));
        DWORD written = 0;
        if (!writeOnce(data + sent, chunk, written, error)) return false;
        if (written == 0 && chunk != 0) {
            error = "nothing was written";
            return false;
        }
        sent += written;
    } while (sent < size);
    return true;
}

bool OverlappedStream::writeOnce(const std::uint8_t* data, DWORD size, DWORD& written,
                                 std::string& error) {
    {
        MutexLock lock(mutex_);
        if (cancelled_) {
            error = "connection cancelled";
            return false;
        }
        ResetEvent(writeEvent_.get());
        writeOv_ = OVERLAPPED{};
        writeOv_.hEvent = writeEvent_.get();
        DWORD code = 0;
        if (!startWrite(data, size, &writeOv_, code)) {
            error = errorText("write", code);
            return false;
        }
    }
    const HANDLE waits[2] = {writeEvent_.get(), cancelEvent_.get()};
    const DWORD wait = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    MutexLock lock(mutex_);
    if (wait != WAIT_OBJECT_0) {
        drainLocked(&writeOv_);
        error = "connection cancelled";
        return false;
    }
    DWORD code = 0;
    if (!result(&writeOv_, written, code)) {
        error = errorText("write", code);
        return false;
    }
    return true;
}

void OverlappedStream::cancel() {
    MutexLock lock(mutex_);
    cancelled_ = true;
    SetEvent(cancelEvent_.get());
}

void OverlappedStream::finishIo() {
    MutexLock lock(mutex_);
    cancelled_ = true;
    if (readPending_) drainLocked(&readOv_);
    readPending_ = false;
}

void OverlappedStream::drainLocked(OVERLAPPED* ov) {
    cancelIo(ov);
    // The event is set when the operation ends, whether it completed or
    // was aborted; the system no longer touches the buffer after that.
    WaitForSingleObject(ov->hEvent, INFINITE);
}

}  // namespace win32
}  // namespace platform
