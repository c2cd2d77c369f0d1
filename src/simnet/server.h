#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "common/clock.h"
#include "simnet/codec.h"

namespace simnet {

// The way back to one connected client, given to its handler. Shared, so a
// handler (or whatever it feeds) may keep it; once the client is gone every
// call is a harmless no-op returning false.
//
// Threads: any. Messages queued from several threads go out whole, in the
// order the queueing calls returned.
class ServerSession {
public:
    virtual ~ServerSession() = default;

    // 1, 2, 3 … in the order the server accepted its clients.
    virtual std::uint32_t clientId() const = 0;
    // "127.0.0.1:50123" or the pipe name.
    virtual std::string peer() const = 0;
    virtual bool isOpen() const = 0;

    // Queues a message for the client. False when the client is gone, when
    // the message cannot be encoded, or when the client let more than the
    // server's per-client bound pile up unread (it is then closed).
    virtual bool send(const ServerMessage& message) = 0;
    // EXCEPTION for the message with `sendId`; `index` names the parameter.
    virtual bool sendException(std::uint32_t exception, std::uint32_t sendId,
                               std::uint32_t index) = 0;

    // Ends the connection after what is queued went out: the client reads
    // it all, then sees the end (TCP FIN / pipe closed). Later messages
    // from the client are dropped.
    virtual void close() = 0;
    // Ends the connection now; what is still queued is dropped.
    virtual void abort() = 0;
};

// Serves one client. Every call comes on that client's own thread, so
// handlers of different clients run at the same time: whatever they share
// needs its own lock. A handler must return promptly (the server's stop
// waits for it) and must not throw (a throw closes its client).
class ClientHandler {
public:
    virtual ~ClientHandler() = default;

    // Each well-formed message of the client, in order.
    virtual void onMessage(const ClientMessage& message) = 0;
    // Once, last: the client is gone ("disconnected", or why it was closed).
    virtual void onClosed(const std::string& reason) { (void)reason; }
};

// Makes the handler for a newly accepted client (on that client's thread).
using HandlerFactory =
    std::function<std::unique_ptr<ClientHandler>(std::shared_ptr<ServerSession> session)>;

struct ServerOptions {
    bool listenTcp = true;
    std::uint16_t tcpPort = 0;  // on 127.0.0.1; 0 lets the system choose
    // Also serve this named pipe (Windows only); empty for none.
    std::string pipeName;
    // Clients served at once; more are accepted and closed at once.
    std::size_t maxClients = 8;
    // Messages for one client waiting to be sent; beyond, it is closed.
    std::size_t maxQueuedBytesPerClient = 1024 * 1024;
    // Messages one client may send per second of `clock`; beyond, it is
    // closed as a flood.
    std::uint32_t maxMessagesPerSecond = 10000;
    // How long a closing connection waits for the client to hang up after
    // the last message went out, before it is cut.
    std::chrono::milliseconds closeLinger{2000};
    // A client that sent no Open this long after it connected is closed,
    // so idle connections cannot take every place of maxClients.
    std::chrono::milliseconds openTimeout{10000};
    // Time for the flood bound, the Open timeout, the linger and the
    // summaries of refused clients; null for the system clock.
    Clock* clock = nullptr;
};

// A SimConnect server core: accepts clients on 127.0.0.1 (and a named
// pipe), cuts their byte streams into messages, decodes them and hands each
// to the client's handler.
//
// A client that sends garbage is closed with a warning in the log, and the
// others go on: a size word outside [16, kMaxClientMessageSize], a message
// that does not decode (unknown call, wrong size, bad string field), a
// flood beyond maxMessagesPerSecond, a backlog beyond
// maxQueuedBytesPerClient, or no Open within openTimeout. Every accepted
// and every ended client gets an info line; a client refused because
// maxClients are connected gets a warning, repeated ones only a count a
// minute (RepeatLimiter).
//
// Threads: one accept thread per listener; per client one reader thread
// (which runs the handler) and one writer thread (which sends the queued
// messages, so a client that does not read blocks nobody else). start and
// stop from the owner; port() and clientCount() from any thread. stop()
// closes every client, joins every thread and is idempotent; the
// destructor stops.
class Server {
public:
    Server(HandlerFactory factory, ServerOptions options = {});
    ~Server();

    // Opens the listeners and starts accepting. False with `error` when a
    // listener cannot be opened (then nothing runs); false when started twice.
    bool start(std::string& error);
    void stop();

    // The TCP port it listens on; 0 before start() or without TCP.
    std::uint16_t port() const;
    // Clients connected right now.
    std::size_t clientCount() const;

    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace simnet
