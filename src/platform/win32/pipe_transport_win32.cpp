#include <winsock2.h>
#include <windows.h>

#include "platform/win32/win32_stream.h"

namespace platform {
namespace win32 {

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr DWORD kPipeBufferSize = 64 * 1024;
// How often accept() looks again while every instance is taken.
constexpr std::chrono::milliseconds kInstanceRetry{50};

// One end of a message-mode pipe, client or server.
class PipeStream final : public OverlappedStream {
public:
    PipeStream(UniqueHandle pipe, std::string name)
        : pipe_(std::move(pipe)), name_(std::move(name)) {}
    // Closing (not DisconnectNamedPipe, which would drop what the other end
    // has not read yet) lets the peer read the rest, then see the end.
    ~PipeStream() override { finishIo(); }

    bool shutdownSend() override { return false; }
    std::string peer() const override { return name_; }

protected:
    bool startRead(std::uint8_t* buffer, DWORD size, OVERLAPPED* ov, DWORD& error) override {
        if (ReadFile(pipe_.get(), buffer, size, nullptr, ov)) return true;
        return pendingOrError(error);
    }

    bool startWrite(const std::uint8_t* data, DWORD size, OVERLAPPED* ov, DWORD& error) override {
        if (WriteFile(pipe_.get(), data, size, nullptr, ov)) return true;
        return pendingOrError(error);
    }

    bool result(OVERLAPPED* ov, DWORD& bytes, DWORD& error) override {
        if (GetOverlappedResult(pipe_.get(), ov, &bytes, FALSE)) return true;
        error = GetLastError();
        // Part of a longer message: the rest comes with the next read.
        return error == ERROR_MORE_DATA;
    }

    void cancelIo(OVERLAPPED* ov) override { CancelIoEx(pipe_.get(), ov); }

    ReadResult readFailure(DWORD error) const override {
        const bool ended = error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED ||
                           error == ERROR_NO_DATA;
        return ended ? ReadResult::Closed : ReadResult::Failed;
    }

    bool emptyReadIsEnd() const override { return false; }

private:
    static bool pendingOrError(DWORD& error) {
        error = GetLastError();
        return error == ERROR_IO_PENDING || error == ERROR_MORE_DATA;
    }

    UniqueHandle pipe_;
    std::string name_;
};

std::unique_ptr<ByteStream> makePipeStream(UniqueHandle pipe, const std::string& name,
                                           std::string& error) {
    auto stream = std::make_unique<PipeStream>(std::move(pipe), name);
    if (!stream->init(error)) return nullptr;
    return stream;
}

class PipeListener final : public StreamListener {
public:
    PipeListener(std::string name, unsigned instances)
        : name_(std::move(name)), instances_(instances) {}

    ~PipeListener() override {
        if (pending_) {
            CancelIoEx(next_.get(), &ov_);
            WaitForSingleObject(connectEvent_.get(), INFINITE);
        }
    }

    // Creates the first instance, so a name already served elsewhere fails
    // here rather than on the first accept.
    bool init(std::string& error) {
        connectEvent_ = createEvent();
        cancelEvent_ = createEvent();
        if (!connectEvent_.valid() || !cancelEvent_.valid()) {
            error = errorText("CreateEvent", GetLastError());
            return false;
        }
        DWORD code = 0;
        if (!createInstance(true, code)) {
            error = errorText("CreateNamedPipe " + name_, code);
            return false;
        }
        return true;
    }

    AcceptResult accept(std::unique_ptr<ByteStream>& stream,
                        std::chrono::milliseconds timeout) override {
        const bool forever = timeout == kWaitForever;
        const SteadyClock::time_point deadline =
            forever ? SteadyClock::time_point::max() : SteadyClock::now() + timeout;
        for (;;) {
            if (WaitForSingleObject(cancelEvent_.get(), 0) == WAIT_OBJECT_0) {
                return AcceptResult::Failed;
            }
            if (!next_.valid() && !waitForInstance(deadline, forever)) {
                return cancelled() ? AcceptResult::Failed : AcceptResult::Timeout;
            }
            bool connected = false;
            if (!pending_ && !startConnect(connected)) continue;
            if (!connected) {
                const AcceptResult waited = waitForClient(deadline, forever, connected);
                if (!connected) return waited;
            }
            return handOver(stream);
        }
    }

    void cancel() override { SetEvent(cancelEvent_.get()); }
    std::uint16_t port() const override { return 0; }

private:
    bool cancelled() const { return WaitForSingleObject(cancelEvent_.get(), 0) == WAIT_OBJECT_0; }

    bool createInstance(bool first, DWORD& code) {
        const DWORD openMode =
            PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0);
        const DWORD pipeMode =
            PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS;
        next_ = UniqueHandle(CreateNamedPipeA(name_.c_str(), openMode, pipeMode, instances_,
                                              kPipeBufferSize, kPipeBufferSize, 0, nullptr));
        code = next_.valid() ? 0 : GetLastError();
        return next_.valid();
    }

    // Every instance in use: tries again until one is free or time is up.
    bool waitForInstance(SteadyClock::time_point deadline, bool forever) {
        for (;;) {
            DWORD code = 0;
            if (createInstance(false, code)) return true;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - SteadyClock::now());
            if (!forever && left.count() <= 0) return false;
            const auto pause = forever ? kInstanceRetry : std::min(left, kInstanceRetry);
            if (WaitForSingleObject(cancelEvent_.get(), toWaitMs(pause)) == WAIT_OBJECT_0) {
                return false;
            }
        }
    }

    // Starts waiting for a client on next_. False when the instance is
    // unusable (a client came and went): it is dropped and a new one made.
    bool startConnect(bool& connected) {
        ResetEvent(connectEvent_.get());
        ov_ = OVERLAPPED{};
        ov_.hEvent = connectEvent_.get();
        connected = false;
        if (ConnectNamedPipe(next_.get(), &ov_)) {
            connected = true;
            return true;
        }
        const DWORD code = GetLastError();
        if (code == ERROR_PIPE_CONNECTED) {
            connected = true;
            return true;
        }
        if (code == ERROR_IO_PENDING) {
            pending_ = true;
            return true;
        }
        next_.reset();
        return false;
    }

    AcceptResult waitForClient(SteadyClock::time_point deadline, bool forever, bool& connected) {
        connected = false;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
        const HANDLE waits[2] = {connectEvent_.get(), cancelEvent_.get()};
        const DWORD wait = WaitForMultipleObjects(
            2, waits, FALSE, forever ? INFINITE : toWaitMs(std::max(left, left.zero())));
        if (wait == WAIT_TIMEOUT) return AcceptResult::Timeout;
        if (wait != WAIT_OBJECT_0) return AcceptResult::Failed;
        pending_ = false;
        DWORD ignored = 0;
        if (GetOverlappedResult(next_.get(), &ov_, &ignored, FALSE)) {
            connected = true;
            return AcceptResult::Accepted;
        }
        next_.reset();  // the client left again; the caller's loop makes a new instance
        return AcceptResult::Timeout;
    }

    AcceptResult handOver(std::unique_ptr<ByteStream>& stream) {
        std::string error;
        stream = makePipeStream(std::move(next_), name_, error);
        DWORD code = 0;
        createInstance(false, code);  // keep one instance waiting; retried in accept() if not
        return stream ? AcceptResult::Accepted : AcceptResult::Failed;
    }

    std::string name_;
    unsigned instances_;
    UniqueHandle next_;  // the instance that waits for the next client
    UniqueHandle connectEvent_;
    UniqueHandle cancelEvent_;
    OVERLAPPED ov_{};
    bool pending_ = false;  // a ConnectNamedPipe on next_ is in flight
};

}  // namespace
}  // namespace win32

bool localPipesAvailable() {
    return true;
}

std::unique_ptr<ByteStream> connectLocalPipe(const std::string& name,
                                             std::chrono::milliseconds busyWait,
                                             std::string& error) {
    const auto deadline = std::chrono::steady_clock::now() +
                          std::min(busyWait, std::chrono::milliseconds(24 * 3600 * 1000));
    for (;;) {
        win32::UniqueHandle pipe(CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                             OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
        if (pipe.valid()) {
            DWORD mode = PIPE_READMODE_MESSAGE;
            if (!SetNamedPipeHandleState(pipe.get(), &mode, nullptr, nullptr)) {
                error = win32::errorText("named pipe " + name, GetLastError());
                return nullptr;
            }
            return win32::makePipeStream(std::move(pipe), name, error);
        }
        const DWORD code = GetLastError();
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (code != ERROR_PIPE_BUSY || left.count() <= 0 ||
            !WaitNamedPipeA(name.c_str(), win32::toWaitMs(left))) {
            error = win32::errorText("named pipe " + name, code);
            return nullptr;
        }
    }
}

std::unique_ptr<StreamListener> listenLocalPipe(const std::string& name, unsigned instances,
                                                std::string& error) {
    const unsigned limit =
        instances == 0 ? 1 : std::min(instances, unsigned{PIPE_UNLIMITED_INSTANCES - 1});
    auto listener = std::make_unique<win32::PipeListener>(name, limit);
    if (!listener->init(error)) return nullptr;
    return listener;
}

}  // namespace platform
