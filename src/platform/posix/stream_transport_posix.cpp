#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>

#include "platform/environment.h"
#include "platform/posix/unique_fd.h"
#include "platform/stream_transport.h"

namespace platform {

namespace {

using SteadyClock = std::chrono::steady_clock;
using Fd = UniqueFd;

std::string errnoText(const std::string& what, int code) {
    return what + ": " + systemErrorText(static_cast<unsigned long>(code));
}

// A pipe whose read end turns readable, for good, once raise() is called:
// every poll() that includes it returns at once from then on.
class CancelSignal {
public:
    bool open(std::string& error) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
            error = errnoText("pipe2", errno);
            return false;
        }
        read_ = Fd(fds[0]);
        write_ = Fd(fds[1]);
        return true;
    }

    void raise() {
        if (raised_.exchange(true)) return;
        const char byte = 1;
        while (::write(write_.get(), &byte, 1) < 0 && errno == EINTR) {
        }
    }

    bool raised() const { return raised_.load(); }
    int fd() const { return read_.get(); }

private:
    Fd read_;
    Fd write_;
    std::atomic<bool> raised_{false};
};

enum class Wait { Ready, Timeout, Cancelled, Failed };

int remainingMs(SteadyClock::time_point deadline, bool forever) {
    if (forever) return -1;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
    if (left.count() <= 0) return 0;
    return left.count() > INT_MAX ? INT_MAX : static_cast<int>(left.count());
}

// Waits until `fd` has `events` (or an error/hang-up, which the next
// system call reports), the signal is raised, or the timeout passes.
Wait waitFor(int fd, short events, const CancelSignal& cancel, std::chrono::milliseconds timeout) {
    const bool forever = timeout == kWaitForever;
    const SteadyClock::time_point deadline =
        forever ? SteadyClock::time_point::max() : SteadyClock::now() + timeout;
    for (;;) {
        pollfd fds[2] = {{fd, events, 0}, {cancel.fd(), POLLIN, 0}};
        const int n = ::poll(fds, 2, remainingMs(deadline, forever));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return Wait::Failed;
        if (fds[1].revents != 0) return Wait::Cancelled;
        if (n == 0) return Wait::Timeout;
        return Wait::Ready;
    }
}

std::string describePeer(const sockaddr* address, socklen_t length) {
    char host[NI_MAXHOST] = {};
    char service[NI_MAXSERV] = {};
    if (getnameinfo(address, length, host, sizeof host, service, sizeof service,
                    NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
        return "unknown peer";
    }
    if (address->sa_family == AF_INET6) return std::string("[") + host + "]:" + service;
    return std::string(host) + ":" + service;
}

void disableNagle(int fd) {
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

class SocketStream final : public ByteStream {
public:
    SocketStream(Fd fd, std::string peer) : fd_(std::move(fd)), peer_(std::move(peer)) {}

    bool init(std::string& error) { return cancel_.open(error); }

    ReadResult receive(std::uint8_t* buffer, std::size_t capacity, std::size_t& received,
                       std::chrono::milliseconds timeout) override {
        received = 0;
        for (;;) {
            if (cancel_.raised()) return ReadResult::Failed;
            const ssize_t n = ::recv(fd_.get(), buffer, capacity, MSG_DONTWAIT);
            if (n > 0) {
                received = static_cast<std::size_t>(n);
                return ReadResult::Data;
            }
            if (n == 0) return ReadResult::Closed;
            if (errno == EINTR) continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) return ReadResult::Failed;
            switch (waitFor(fd_.get(), POLLIN, cancel_, timeout)) {
                case Wait::Ready:
                    continue;
                case Wait::Timeout:
                    return ReadResult::Timeout;
                case Wait::Cancelled:
                case Wait::Failed:
                    return ReadResult::Failed;
            }
        }
    }

    bool sendAll(const std::uint8_t* data, std::size_t size, std::string& error) override {
        std::size_t sent = 0;
        while (sent < size) {
            if (cancel_.raised()) {
                error = "connection cancelled";
                return false;
            }
            const ssize_t n =
                ::send(fd_.get(), data + sent, size - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n >= 0) {
                sent += static_cast<std::size_t>(n);
                continue;
            }
            if (errno == EINTR) continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                error = errnoText("send", errno);
                return false;
            }
            if (waitFor(fd_.get(), POLLOUT, cancel_, kWaitForever) != Wait::Ready) {
                error = "connection cancelled";
                return false;
            }
        }
        return true;
    }

    bool shutdownSend() override { return ::shutdown(fd_.get(), SHUT_WR) == 0; }
    void cancel() override { cancel_.raise(); }
    std::string peer() const override { return peer_; }

private:
    Fd fd_;
    std::string peer_;
    CancelSignal cancel_;
};

std::unique_ptr<ByteStream> makeStream(Fd fd, std::string peer, std::string& error) {
    disableNagle(fd.get());
    auto stream = std::make_unique<SocketStream>(std::move(fd), std::move(peer));
    if (!stream->init(error)) return nullptr;
    return stream;
}

// A server that vanishes without closing the connection (powered off, its
// cable pulled) is noticed after about 10 + 3 * 5 s of silence.
void enableKeepAlive(int fd) {
    const int on = 1;
    const int idleSeconds = 10;
    const int intervalSeconds = 5;
    const int probes = 3;
    setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idleSeconds, sizeof idleSeconds);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &intervalSeconds, sizeof intervalSeconds);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
}

// One non-blocking connect attempt, bounded by `timeout`.
Fd connectOne(const addrinfo& address, std::chrono::milliseconds timeout, std::string& error) {
    Fd fd(::socket(address.ai_family, address.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                   address.ai_protocol));
    if (!fd.valid()) {
        error = errnoText("socket", errno);
        return Fd();
    }
    if (::connect(fd.get(), address.ai_addr, address.ai_addrlen) == 0) return fd;
    if (errno != EINPROGRESS) {
        error = errnoText("connect", errno);
        return Fd();
    }
    const bool forever = timeout == kWaitForever;
    const SteadyClock::time_point deadline =
        forever ? SteadyClock::time_point::max() : SteadyClock::now() + timeout;
    pollfd pending = {fd.get(), POLLOUT, 0};
    int n = 0;
    do {
        n = ::poll(&pending, 1, remainingMs(deadline, forever));
    } while (n < 0 && errno == EINTR);
    if (n == 0) {
        error = "connect: timed out";
        return Fd();
    }
    int status = 0;
    socklen_t length = sizeof status;
    if (n < 0 || getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &status, &length) != 0) {
        error = errnoText("connect", errno);
        return Fd();
    }
    if (status != 0) {
        error = errnoText("connect", status);
        return Fd();
    }
    return fd;
}

int toAddressFamily(IpFamily family) {
    switch (family) {
        case IpFamily::V4:
            return AF_INET;
        case IpFamily::V6:
            return AF_INET6;
        case IpFamily::Any:
            break;
    }
    return AF_UNSPEC;
}

class TcpListener final : public StreamListener {
public:
    TcpListener(Fd fd, std::uint16_t port) : fd_(std::move(fd)), port_(port) {}

    bool init(std::string& error) { return cancel_.open(error); }

    AcceptResult accept(std::unique_ptr<ByteStream>& stream,
                        std::chrono::milliseconds timeout) override {
        for (;;) {
            if (cancel_.raised()) return AcceptResult::Failed;
            sockaddr_storage address{};
            socklen_t length = sizeof address;
            Fd client(::accept4(fd_.get(), reinterpret_cast<sockaddr*>(&address), &length,
                                SOCK_NONBLOCK | SOCK_CLOEXEC));
            if (client.valid()) {
                std::string error;
                stream =
                    makeStream(std::move(client),
                               describePeer(reinterpret_cast<sockaddr*>(&address), length), error);
                return stream ? AcceptResult::Accepted : AcceptResult::Failed;
            }
            // A client that left before being accepted is not an error.
            if (errno == EINTR || errno == ECONNABORTED) continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) return AcceptResult::Failed;
            switch (waitFor(fd_.get(), POLLIN, cancel_, timeout)) {
                case Wait::Ready:
                    continue;
                case Wait::Timeout:
                    return AcceptResult::Timeout;
                case Wait::Cancelled:
                case Wait::Failed:
                    return AcceptResult::Failed;
            }
        }
    }

    void cancel() override { cancel_.raise(); }
    std::uint16_t port() const override { return port_; }

private:
    Fd fd_;
    std::uint16_t port_;
    CancelSignal cancel_;
};

}  // namespace

std::unique_ptr<ByteStream> connectTcp(const std::string& host, std::uint16_t port, IpFamily family,
                                       std::chrono::milliseconds timeout, std::string& error) {
    addrinfo hints{};
    hints.ai_family = toAddressFamily(family);
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (const int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &found); rc != 0) {
        error = "cannot resolve " + host + ": " + gai_strerror(rc);
        return nullptr;
    }
    std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> list(found, &freeaddrinfo);
    error = "no address for " + host;
    for (const addrinfo* a = found; a; a = a->ai_next) {
        Fd fd = connectOne(*a, timeout, error);
        if (!fd.valid()) continue;
        enableKeepAlive(fd.get());
        return makeStream(std::move(fd), describePeer(a->ai_addr, a->ai_addrlen), error);
    }
    error = host + ":" + service + ": " + error;
    return nullptr;
}

std::unique_ptr<StreamListener> listenTcpLoopback(std::uint16_t port, std::string& error) {
    Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.valid()) {
        error = errnoText("socket", errno);
        return nullptr;
    }
    const int on = 1;
    setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        error = errnoText("bind 127.0.0.1:" + std::to_string(port), errno);
        return nullptr;
    }
    if (::listen(fd.get(), SOMAXCONN) != 0) {
        error = errnoText("listen", errno);
        return nullptr;
    }
    socklen_t length = sizeof address;
    if (getsockname(fd.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        error = errnoText("getsockname", errno);
        return nullptr;
    }
    auto listener = std::make_unique<TcpListener>(std::move(fd), ntohs(address.sin_port));
    if (!listener->init(error)) return nullptr;
    return listener;
}

bool localPipesAvailable() {
    return false;
}

std::unique_ptr<ByteStream> connectLocalPipe(const std::string& name, std::chrono::milliseconds,
                                             std::string& error) {
    error = "named pipe " + name + ": named pipes exist only on Windows";
    return nullptr;
}

std::unique_ptr<StreamListener> listenLocalPipe(const std::string& name, unsigned,
                                                std::string& error) {
    error = "named pipe " + name + ": named pipes exist only on Windows";
    return nullptr;
}

}  // namespace platform
