#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <thread>

#include "common/mutex.h"
#include "emulation/sim_emulator.h"
#include "simnet/server.h"

namespace simnet {

struct EmulatorFrontOptions {
    // The server core's settings: TCP port on 127.0.0.1 (0 lets the system
    // choose), the pipe name (Windows; empty for none), client count,
    // flood and backlog bounds.
    ServerOptions server;
    // Definitions, mappings and requests one client may hold in the
    // emulator (each one the emulator keeps for it); beyond, it is closed,
    // so no client grows the server's memory without end.
    std::size_t maxEntriesPerClient = 4096;
    // The bytes those may cost one client: each request counts as 8 KiB
    // (its largest answer, which the emulator also keeps), every other
    // entry as 256 bytes. So a few KiB of requests cannot make the server
    // hold and send hundreds of MiB.
    std::size_t maxBytesPerClient = 4 * 1024 * 1024;
    // How often, in real time, every client's queued messages are looked
    // for when nothing else woke the pump (changes scripted on the
    // emulator, a module that loads when its time comes). While something
    // waits for the emulator's frames, the pump also wakes when the next
    // frame ends.
    std::chrono::milliseconds pumpPeriod{10};
};

// SimEmulator behind the SimConnect server core: each network client is a
// connection of its own in the emulator (its own definitions, requests,
// event mappings and send ids), opened by its Open message and closed when
// the client goes.
//
// Each call is handed to the emulator with the send id of its message
// header (SimEmulator::setNextSendId), so an exception names the message
// that caused it. What the emulator queues for a connection is drained
// with its CallDispatch and sent as it came, in order. One pump thread does
// all draining: woken after every message a client sent (the answers to it
// go out at once), at the end of each frame somebody waits for
// (SimEmulator::nextFrameDue; the emulator's clock read as real time), and
// every pumpPeriod otherwise.
//
// What the wire cannot carry becomes what a client of the real simulator
// would see:
// - an Open the emulator refuses (no simulator running, a scripted
//   failure): the connection is ended, so the client's Open succeeded and
//   its first dispatch reports the lost link;
// - a connection the emulator broke (crash, quit after its QUIT went out):
//   what was queued goes out, then the connection ends;
// - a silent connection: nothing arrives, calls go nowhere;
// - an Open with another protocol version: EXCEPTION VERSION_MISMATCH
//   with the Open's send id, then the end of the connection;
// - an error the emulator returns for a call (a scripted failure of the
//   library): nothing, since the library had already returned S_OK.
// A client that calls before its Open, opens twice, or holds more than
// maxEntriesPerClient entries or maxBytesPerClient of them is closed with
// a warning in the log; the
// server core closes garbage senders itself. The others go on.
//
// Threads: start/stop from the owner; port() and clientCount() from any
// thread. The emulator is called from each client's reader thread and
// from the pump thread; it must outlive the front. stop() closes every
// client (each one's emulator connection with it), joins every thread and
// is idempotent; the destructor stops.
class EmulatorFront {
public:
    EmulatorFront(SimEmulator& sim, EmulatorFrontOptions options = {});
    ~EmulatorFront();

    // False with `error` when a listener cannot be opened.
    bool start(std::string& error);
    void stop();

    std::uint16_t port() const { return server_.port(); }
    std::size_t clientCount() const { return server_.clientCount(); }

    EmulatorFront(const EmulatorFront&) = delete;
    EmulatorFront& operator=(const EmulatorFront&) = delete;

private:
    struct Link;
    class Handler;

    std::unique_ptr<ClientHandler> admit(std::shared_ptr<ServerSession> session) EXCLUDES(lock_);
    void forget(std::uint32_t clientId) EXCLUDES(lock_);
    void wakePump() EXCLUDES(lock_);
    void pumpLoop() EXCLUDES(lock_);
    // Runs the frames that ended; how long the pump may sleep.
    std::chrono::nanoseconds untilNextPump() EXCLUDES(lock_);
    // Sends what the emulator queued for the link; ends a broken one.
    void drain(Link& link) EXCLUDES(lock_);

    SimEmulator& sim_;
    const EmulatorFrontOptions options_;

    Mutex lock_;  // never held while calling the emulator
    std::condition_variable wake_;
    std::map<std::uint32_t, std::shared_ptr<Link>> links_ GUARDED_BY(lock_);  // by client id
    bool woken_ GUARDED_BY(lock_) = false;
    bool stopping_ GUARDED_BY(lock_) = false;
    std::thread pump_;  // owner's thread only

    Server server_;  // last: its threads use everything above
};

}  // namespace simnet
