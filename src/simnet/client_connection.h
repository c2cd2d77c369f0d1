#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/mutex.h"
#include "platform/stream_transport.h"
#include "sim/simconnect_api.h"
#include "simnet/codec.h"
#include "simnet/endpoint.h"

namespace simnet {

class FrameAssembler;

// One client connection to a SimConnect server over TCP or a local pipe,
// with the results the SDK's library gives:
//
// - open() connects and sends Open (send id 1) and succeeds at once,
//   without waiting for the server's answer; E_FAIL when nothing answers.
// - send() gives each call the next send id. A text of 256 or more
//   characters, or a message above kMaxClientMessageSize, is refused with
//   INSUFFICIENT_BUFFER_RESULT, sends nothing and still uses up a send id.
//   Once the link is gone every call returns LINK_FAILED_RESULT and uses no
//   send id.
// - callDispatch() hands every message received so far, in order and with
//   its bytes unchanged (cbData == dwSize), to the dispatch procedure, on
//   the calling thread. It returns S_OK, also when nothing waits; once the
//   server ended the link (or sent something that breaks the framing) it
//   delivers what was queued before and returns LINK_FAILED_RESULT, then
//   again on every later call.
// - Destroying the connection is SimConnect_Close: it sends nothing.
//
// The only check on received messages is the framing: a size word below
// 12 or above kMaxServerMessageSize ends the link, with one WARN "SimConnect
// link to <server> ended: " + kNotSimConnect + the assembler's reason
// ("message size 2147483648 above the bound 65536"), kept for
// brokenStream(). Contents pass through as they came, as the SDK's library
// passes them.
//
// Threads: send() and lastSentPacketId() from any threads (sends are
// serialised, one whole message at a time); callDispatch() from one thread
// at a time; the dispatch procedure may call send() but must not destroy
// the connection. A reader thread receives in the background; it stops
// taking bytes while maxQueuedBytes wait for callDispatch(), so a server
// that floods a client that does not dispatch is slowed by TCP, not by
// growing memory. The destructor must not race with any other call.
class ClientConnection {
public:
    using HRESULT = simconnect::HRESULT;

    struct Options {
        std::chrono::milliseconds connectTimeout{3000};
        // The SDK's library waits this long for a busy pipe.
        std::chrono::milliseconds pipeBusyWait{5000};
        std::size_t maxQueuedBytes = 1024 * 1024;
    };

    // S_OK with the connection in `out`. E_FAIL with a reason in `error`
    // when the server cannot be reached or Open cannot be sent;
    // INSUFFICIENT_BUFFER_RESULT (nothing connected) for a name of 256+
    // characters.
    static HRESULT open(const Endpoint& endpoint, const std::string& name, const Options& options,
                        std::unique_ptr<ClientConnection>& out, std::string& error);

    ~ClientConnection();

    HRESULT send(const Call& call) EXCLUDES(sendLock_);
    // The result of send() for a call known to exceed kMaxClientMessageSize
    // before it is built (a send id used up, or LINK_FAILED_RESULT).
    HRESULT refuseOversized() EXCLUDES(sendLock_);
    HRESULT callDispatch(simconnect::DispatchProc proc, void* context) EXCLUDES(queueLock_);
    // The send id of the last call sent or refused (1 right after open()).
    std::uint32_t lastSentPacketId() const { return lastSendId_.load(); }
    // True once the link is gone (callDispatch() may still hold messages).
    bool linkFailed() const { return linkFailed_.load(); }
    // Why the server's stream broke the framing; empty while it did not.
    std::string brokenStream() const EXCLUDES(queueLock_);

    static constexpr const char* kNotSimConnect =
        "the server sent something that is not SimConnect: ";

    ClientConnection(const ClientConnection&) = delete;
    ClientConnection& operator=(const ClientConnection&) = delete;

private:
    ClientConnection(std::unique_ptr<platform::ByteStream> stream, std::string server,
                     const Options& options);

    void readerLoop();
    void noteBrokenStream(const FrameAssembler& assembler) EXCLUDES(queueLock_);
    bool enqueue(const std::uint8_t* message, std::size_t size) EXCLUDES(queueLock_);
    void markLinkFailed() EXCLUDES(queueLock_);

    std::unique_ptr<platform::ByteStream> stream_;
    const std::string server_;  // the endpoint, described
    const std::size_t maxQueuedBytes_;
    std::thread reader_;

    Mutex sendLock_;  // one message on the wire at a time
    std::vector<std::uint8_t> sendBuffer_ GUARDED_BY(sendLock_);
    std::atomic<std::uint32_t> lastSendId_{0};
    std::atomic<bool> linkFailed_{false};

    mutable Mutex queueLock_ ACQUIRED_AFTER(sendLock_);
    std::condition_variable spaceFreed_;
    std::deque<std::vector<std::uint8_t>> queue_ GUARDED_BY(queueLock_);
    std::size_t queuedBytes_ GUARDED_BY(queueLock_) = 0;
    bool stopping_ GUARDED_BY(queueLock_) = false;
    std::string brokenStream_ GUARDED_BY(queueLock_);
};

}  // namespace simnet
