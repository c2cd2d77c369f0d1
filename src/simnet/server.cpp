#include "simnet/server.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <list>
#include <thread>
#include <utility>
#include <variant>
#include <vector>

#include "common/mutex.h"
#include "log/logger.h"
#include "log/repeat_limiter.h"
#include "platform/stream_transport.h"
#include "simnet/frame_assembler.h"

namespace simnet {

namespace {

constexpr const char* kLogPrefix = "SimConnect server: ";
constexpr std::size_t kReadChunk = 16 * 1024;
constexpr std::chrono::milliseconds kAcceptRetry{100};

// Why a client's connection ended; a fault is the client's doing and is
// logged as a warning.
struct Outcome {
    std::string reason;
    bool fault = false;
};

class Session final : public ServerSession {
public:
    Session(std::uint32_t id, std::unique_ptr<platform::ByteStream> stream,
            const ServerOptions& options, Clock& clock)
        : id_(id),
          peer_(stream->peer()),
          stream_(std::move(stream)),
          maxQueuedBytes_(options.maxQueuedBytesPerClient),
          linger_(options.closeLinger),
          openTimeout_(options.openTimeout),
          clock_(clock),
          openBy_(clock.now() + options.openTimeout) {}

    std::uint32_t clientId() const override { return id_; }
    std::string peer() const override { return peer_; }

    bool isOpen() const override {
        MutexLock lock(mutex_);
        return state_ == State::Open;
    }

    bool send(const ServerMessage& message) override {
        std::vector<std::uint8_t> bytes;
        if (encodeServerMessage(message, bytes) != CodecError::None) return false;
        return enqueue(std::move(bytes));
    }

    bool sendException(std::uint32_t exception, std::uint32_t sendId,
                       std::uint32_t index) override {
        return send(ServerMessage{kProtocolVersion, RecvException{exception, sendId, index}});
    }

    void close() override {
        MutexLock lock(mutex_);
        if (state_ == State::Open) state_ = State::Closing;
        changed_.notify_all();
    }

    void abort() override { end({}); }

    // ---- for the client's reader thread ----

    // The client sent its Open: the Open timeout no longer applies.
    void markOpened() EXCLUDES(mutex_) {
        MutexLock lock(mutex_);
        opened_ = true;
        changed_.notify_all();
    }

    platform::ByteStream& stream() { return *stream_; }
    void startWriter() {
        writer_ = std::thread([this] { writerLoop(); });
    }

    // Ends the connection now; the first outcome given sticks.
    void end(const Outcome& outcome) EXCLUDES(mutex_) {
        MutexLock lock(mutex_);
        if (state_ != State::Ended) {
            state_ = State::Ended;
            queue_.clear();
            queuedBytes_ = 0;
            endOutcome_ = outcome;
        }
        if (stream_) stream_->cancel();
        changed_.notify_all();
    }

    // Why the server side ended or is ending the connection; empty reason
    // when it did not.
    Outcome serverOutcome() const {
        MutexLock lock(mutex_);
        if (!endOutcome_.reason.empty()) return endOutcome_;
        if (state_ != State::Open) return {"closed by the server", false};
        return {};
    }

    // Last step of the reader thread: stops the writer and closes the
    // connection, so the client sees the end even while the handler's
    // owners still hold this session.
    void finish() EXCLUDES(mutex_) {
        {
            MutexLock lock(mutex_);
            readerDone_ = true;
        }
        end({});
        if (writer_.joinable()) writer_.join();
        MutexLock lock(mutex_);
        stream_.reset();
    }

private:
    enum class State { Open, Closing, Ended };

    bool enqueue(std::vector<std::uint8_t> bytes) EXCLUDES(mutex_) {
        MutexLock lock(mutex_);
        if (state_ != State::Open) return false;
        if (queuedBytes_ + bytes.size() > maxQueuedBytes_) {
            lock.unlock();
            end({"not reading: more than " + std::to_string(maxQueuedBytes_) +
                     " bytes waiting for it",
                 true});
            return false;
        }
        queuedBytes_ += bytes.size();
        queue_.push_back(std::move(bytes));
        changed_.notify_all();
        return true;
    }

    // Until the Open came, the writer also keeps the time limit for it.
    void writerLoop() {
        MutexLock lock(mutex_);
        for (;;) {
            const auto work = [&]() REQUIRES(mutex_) {
                return state_ != State::Open || !queue_.empty();
            };
            if (opened_) {
                changed_.wait(lock.native(), work);
            } else if (!clock_.waitUntil(changed_, lock.native(), openBy_,
                                         [&]() REQUIRES(mutex_) { return work() || opened_; })) {
                lock.unlock();
                end({"sent no Open within " + std::to_string(openTimeout_.count() / 1000) + " s",
                     true});
                return;
            }
            if (!work()) continue;
            if (state_ == State::Ended) return;
            if (queue_.empty()) {
                lock.unlock();
                hangUp();
                return;
            }
            std::vector<std::uint8_t> message = std::move(queue_.front());
            queue_.pop_front();
            queuedBytes_ -= message.size();
            lock.unlock();
            std::string error;
            const bool sent = stream_->sendAll(message.data(), message.size(), error);
            lock.lock();
            if (!sent) {
                lock.unlock();
                end({"send failed: " + error, false});
                return;
            }
        }
    }

    // Everything went out: tell the client, give it a moment to hang up
    // itself (closing first could reset the connection over bytes it sent
    // meanwhile), then cut the connection. A pipe has no half-close; the
    // client reads what was sent even after the close.
    void hangUp() EXCLUDES(mutex_) {
        const bool halfClosed = stream_->shutdownSend();
        MutexLock lock(mutex_);
        if (halfClosed) {
            clock_.waitFor(changed_, lock.native(), linger_, [&]() REQUIRES(mutex_) {
                return readerDone_ || state_ == State::Ended;
            });
        }
        stream_->cancel();
    }

    const std::uint32_t id_;
    const std::string peer_;
    std::unique_ptr<platform::ByteStream> stream_;  // reset only by finish()
    const std::size_t maxQueuedBytes_;
    const std::chrono::milliseconds linger_;
    const std::chrono::milliseconds openTimeout_;
    Clock& clock_;
    const Clock::TimePoint openBy_;
    std::thread writer_;

    mutable Mutex mutex_;
    std::condition_variable changed_;
    State state_ GUARDED_BY(mutex_) = State::Open;
    std::deque<std::vector<std::uint8_t>> queue_ GUARDED_BY(mutex_);
    std::size_t queuedBytes_ GUARDED_BY(mutex_) = 0;
    bool readerDone_ GUARDED_BY(mutex_) = false;
    bool opened_ GUARDED_BY(mutex_) = false;
    Outcome endOutcome_ GUARDED_BY(mutex_);
};

// Counts a client's messages per second of the clock.
class FloodGuard {
public:
    FloodGuard(std::uint32_t limit, Clock& clock) : limit_(limit), clock_(clock) {}

    bool allow() {
        const Clock::TimePoint now = clock_.now();
        if (count_ == 0 || now - windowStart_ >= std::chrono::seconds(1)) {
            windowStart_ = now;
            count_ = 0;
        }
        return ++count_ <= limit_;
    }

private:
    const std::uint32_t limit_;
    Clock& clock_;
    Clock::TimePoint windowStart_{};
    std::uint32_t count_ = 0;
};

// Decodes one whole message and hands it on; false (with the outcome)
// when the client has to go.
bool handleFrame(Session& session, ClientHandler& handler, FloodGuard& flood,
                 std::uint32_t floodLimit, const std::uint8_t* data, std::size_t size,
                 Outcome& outcome) {
    if (!session.isOpen()) return true;  // closing: read and dropped
    ClientMessage message;
    if (const CodecError e = decodeClientMessage(data, size, message); e != CodecError::None) {
        outcome = {std::string("sent a bad message: ") + describe(e), true};
        return false;
    }
    if (std::holds_alternative<OpenCall>(message.call)) session.markOpened();
    if (!flood.allow()) {
        outcome = {"flood: more than " + std::to_string(floodLimit) + " messages in a second",
                   true};
        return false;
    }
    try {
        handler.onMessage(message);
    } catch (const std::exception& x) {
        outcome = {std::string("handler failed: ") + x.what(), true};
        return false;
    }
    return true;
}

Outcome readMessages(Session& session, ClientHandler& handler, const ServerOptions& options,
                     Clock& clock) {
    FrameAssembler assembler(kClientHeaderSize, kMaxClientMessageSize);
    FloodGuard flood(options.maxMessagesPerSecond, clock);
    Outcome outcome;
    const auto sink = [&](const std::uint8_t* data, std::size_t size) {
        return handleFrame(session, handler, flood, options.maxMessagesPerSecond, data, size,
                           outcome);
    };
    std::vector<std::uint8_t> buffer(kReadChunk);
    for (;;) {
        std::size_t received = 0;
        const auto result = session.stream().receive(buffer.data(), buffer.size(), received,
                                                     platform::kWaitForever);
        if (result == platform::ByteStream::ReadResult::Timeout) continue;
        if (result != platform::ByteStream::ReadResult::Data) {
            const Outcome byServer = session.serverOutcome();
            if (!byServer.reason.empty()) return byServer;
            const bool orderly = result == platform::ByteStream::ReadResult::Closed;
            return {orderly ? "disconnected" : "connection lost", false};
        }
        if (!assembler.feed(buffer.data(), received, sink)) {
            if (outcome.reason.empty())
                outcome = {"sent a bad message: " + assembler.error(), true};
            return outcome;
        }
    }
}

std::string clientLabel(const Session& session) {
    return "client " + std::to_string(session.clientId()) + " (" + session.peer() + ")";
}

void logOutcome(const Session& session, const Outcome& outcome) {
    if (outcome.fault) {
        logWarn(kLogPrefix + clientLabel(session) + " closed: " + outcome.reason);
    } else {
        logInfo(kLogPrefix + clientLabel(session) + " ended: " + outcome.reason);
    }
}

}  // namespace

struct Server::Impl {
    struct Client {
        std::shared_ptr<Session> session;
        std::thread thread;
        std::atomic<bool> done{false};
    };

    Impl(HandlerFactory f, ServerOptions o)
        : factory(std::move(f)),
          options(std::move(o)),
          clock(options.clock ? *options.clock : Clock::system()),
          refusals(clock) {}

    bool openListeners(std::string& error);
    void acceptLoop(platform::StreamListener& listener) EXCLUDES(lock);
    void admit(std::unique_ptr<platform::ByteStream> stream) EXCLUDES(lock);
    void runClient(Client& client);
    std::vector<std::unique_ptr<Client>> takeClients(bool finishedOnly) EXCLUDES(lock);
    void pauseAfterFailure() EXCLUDES(lock);

    HandlerFactory factory;
    ServerOptions options;
    Clock& clock;
    // Clients that keep connecting while the server is full: one line,
    // then a count a minute.
    RepeatLimiter refusals;
    std::vector<std::unique_ptr<platform::StreamListener>> listeners;
    std::vector<std::thread> acceptors;
    std::atomic<std::uint16_t> tcpPort{0};

    mutable Mutex lock;
    std::condition_variable stopChanged;
    std::list<std::unique_ptr<Client>> clients GUARDED_BY(lock);
    std::uint32_t nextId GUARDED_BY(lock) = 1;
    bool started GUARDED_BY(lock) = false;
    bool stopping GUARDED_BY(lock) = false;
};

bool Server::Impl::openListeners(std::string& error) {
    if (options.listenTcp) {
        auto tcp = platform::listenTcpLoopback(options.tcpPort, error);
        if (!tcp) return false;
        tcpPort = tcp->port();
        listeners.push_back(std::move(tcp));
    }
    if (!options.pipeName.empty()) {
        auto pipe = platform::listenLocalPipe(options.pipeName,
                                              static_cast<unsigned>(options.maxClients + 1), error);
        if (!pipe) return false;
        listeners.push_back(std::move(pipe));
    }
    return true;
}

void Server::Impl::acceptLoop(platform::StreamListener& listener) {
    bool failureLogged = false;
    for (;;) {
        std::unique_ptr<platform::ByteStream> stream;
        const auto result = listener.accept(stream, platform::kWaitForever);
        {
            MutexLock guard(lock);
            if (stopping) return;
        }
        if (result == platform::StreamListener::AcceptResult::Accepted) {
            failureLogged = false;
            admit(std::move(stream));
        } else if (result == platform::StreamListener::AcceptResult::Failed) {
            if (!failureLogged) logWarn(std::string(kLogPrefix) + "accepting a client failed");
            failureLogged = true;
            pauseAfterFailure();
        }
    }
}

void Server::Impl::pauseAfterFailure() {
    MutexLock guard(lock);
    clock.waitFor(stopChanged, guard.native(), kAcceptRetry,
                  [this]() REQUIRES(lock) { return stopping; });
}

void Server::Impl::admit(std::unique_ptr<platform::ByteStream> stream) {
    for (std::unique_ptr<Client>& finished : takeClients(true))
        finished->thread.join();
    refusals.poll();
    {
        MutexLock guard(lock);
        if (clients.size() < options.maxClients) {
            auto client = std::make_unique<Client>();
            client->session =
                std::make_shared<Session>(nextId++, std::move(stream), options, clock);
            Client& slot = *client;
            clients.push_back(std::move(client));
            slot.thread = std::thread([this, &slot] { runClient(slot); });
            return;
        }
    }
    // The stream goes, and with it the connection.
    refusals.warn(kLogPrefix + std::string("refused a client: ") +
                  std::to_string(options.maxClients) + " clients connected already");
}

void Server::Impl::runClient(Client& client) {
    Session& session = *client.session;
    logInfo(kLogPrefix + clientLabel(session) + " connected");
    std::unique_ptr<ClientHandler> handler = factory(client.session);
    Outcome outcome{"no handler for the client", false};
    if (handler) {
        session.startWriter();
        outcome = readMessages(session, *handler, options, clock);
    }
    session.finish();
    logOutcome(session, outcome);
    if (handler) handler->onClosed(outcome.reason);
    handler.reset();
    client.done = true;
}

std::vector<std::unique_ptr<Server::Impl::Client>> Server::Impl::takeClients(bool finishedOnly) {
    std::vector<std::unique_ptr<Client>> taken;
    MutexLock guard(lock);
    for (auto it = clients.begin(); it != clients.end();) {
        if (!finishedOnly || (*it)->done.load()) {
            taken.push_back(std::move(*it));
            it = clients.erase(it);
        } else {
            ++it;
        }
    }
    return taken;
}

Server::Server(HandlerFactory factory, ServerOptions options)
    : impl_(std::make_unique<Impl>(std::move(factory), std::move(options))) {}

Server::~Server() {
    stop();
}

bool Server::start(std::string& error) {
    {
        MutexLock guard(impl_->lock);
        if (impl_->started || impl_->stopping) {
            error = "SimConnect server already started";
            return false;
        }
        impl_->started = true;
    }
    if (!impl_->openListeners(error)) {
        impl_->listeners.clear();
        impl_->tcpPort = 0;
        return false;
    }
    for (auto& listener : impl_->listeners) {
        impl_->acceptors.emplace_back([this, l = listener.get()] { impl_->acceptLoop(*l); });
    }
    return true;
}

void Server::stop() {
    {
        MutexLock guard(impl_->lock);
        if (impl_->stopping) return;
        impl_->stopping = true;
    }
    impl_->stopChanged.notify_all();
    for (auto& listener : impl_->listeners)
        listener->cancel();
    for (std::thread& acceptor : impl_->acceptors)
        acceptor.join();
    impl_->acceptors.clear();
    std::vector<std::unique_ptr<Impl::Client>> clients = impl_->takeClients(false);
    for (auto& client : clients)
        client->session->abort();
    for (auto& client : clients)
        client->thread.join();
    impl_->listeners.clear();
}

std::uint16_t Server::port() const {
    return impl_->tcpPort;
}

std::size_t Server::clientCount() const {
    MutexLock guard(impl_->lock);
    std::size_t count = 0;
    for (const auto& client : impl_->clients)
        count += client->done.load() ? 0 : 1;
    return count;
}

}  // namespace simnet
