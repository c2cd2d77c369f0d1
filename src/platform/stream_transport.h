#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// Byte-stream connections between processes: TCP (Winsock / BSD sockets)
// and, on Windows, local named pipes in message mode.
//
// Threads: one thread may be inside receive() while others call sendAll()
// (callers serialise their sendAll() calls: one message must not interleave
// with another), and any thread may call cancel() at any time. A listener's
// accept() runs on one thread; cancel() from any.
//
// Failures come back as values with a text; nothing here throws. Every
// handle is closed by the destructor, which first cancels and waits for any
// operation the system still has in flight.
namespace platform {

// Waits with this timeout never time out.
constexpr std::chrono::milliseconds kWaitForever = std::chrono::milliseconds::max();

enum class IpFamily { Any, V4, V6 };

class ByteStream {
public:
    enum class ReadResult {
        Data,     // at least one byte arrived
        Timeout,  // nothing within the timeout; the stream is still usable
        Closed,   // the peer ended the stream in order (FIN, pipe closed)
        Failed,   // reset, error, or cancelled
    };

    virtual ~ByteStream() = default;

    // Waits at most `timeout` for bytes and copies up to `capacity` (at
    // least 1) of them; bytes beyond `capacity` stay for the next call.
    // After a Timeout the next call goes on waiting for the same data, so
    // nothing is lost.
    virtual ReadResult receive(std::uint8_t* buffer, std::size_t capacity, std::size_t& received,
                               std::chrono::milliseconds timeout) = 0;

    // Sends every byte, blocking while the peer does not read. On a pipe
    // the bytes go as one pipe message. False (with `error`) when the stream
    // failed or was cancelled; how much went out is then unknown.
    virtual bool sendAll(const std::uint8_t* data, std::size_t size, std::string& error) = 0;

    // Ends the sending direction in order (TCP FIN); bytes already sent are
    // still delivered. False where there is no half-close (pipes): the peer
    // sees the end only when the stream is destroyed, and still reads what
    // was sent before.
    virtual bool shutdownSend() = 0;

    // From any thread: a blocked receive() or sendAll() returns promptly
    // (Failed / false), and every later one fails at once.
    virtual void cancel() = 0;

    // The peer for log lines: "127.0.0.1:50123", or the pipe name.
    virtual std::string peer() const = 0;
};

class StreamListener {
public:
    enum class AcceptResult { Accepted, Timeout, Failed };

    virtual ~StreamListener() = default;

    // Waits at most `timeout` for the next client. Failed also after cancel().
    virtual AcceptResult accept(std::unique_ptr<ByteStream>& stream,
                                std::chrono::milliseconds timeout) = 0;
    virtual void cancel() = 0;
    // The TCP port it listens on (the chosen one when 0 was asked); 0 for pipes.
    virtual std::uint16_t port() const = 0;
};

// Connects to `host` (a name or a numeric address, of the given family)
// and `port`, trying each address the name resolves to, each within
// `timeout`. Small writes are not delayed (no Nagle). TCP keep-alive is on
// with short times: a server that vanishes without closing the connection
// fails receive() within about a minute. Null with `error` on failure.
std::unique_ptr<ByteStream> connectTcp(const std::string& host, std::uint16_t port, IpFamily family,
                                       std::chrono::milliseconds timeout, std::string& error);

// Listens on 127.0.0.1:port; port 0 lets the system choose (see port()).
std::unique_ptr<StreamListener> listenTcpLoopback(std::uint16_t port, std::string& error);

// True where local named pipes exist (Windows). Elsewhere the two pipe
// functions below fail with a text saying so.
bool localPipesAvailable();

// Opens the named pipe `name` (\\.\pipe\...) in message mode. While every
// instance is busy, waits up to `busyWait` for one to come free.
std::unique_ptr<ByteStream> connectLocalPipe(const std::string& name,
                                             std::chrono::milliseconds busyWait,
                                             std::string& error);

// Serves the named pipe `name` with up to `instances` clients at a time;
// one instance always waits for the next client while others are in use.
std::unique_ptr<StreamListener> listenLocalPipe(const std::string& name, unsigned instances,
                                                std::string& error);

}  // namespace platform
