#include <winsock2.h>
#include <ws2tcpip.h>
#include <mstcpip.h>
#include <windows.h>

#include <mutex>

#include "platform/win32/win32_stream.h"

namespace platform {
namespace win32 {

namespace {

// Winsock is started once per process and left running until it ends.
bool startWinsock(std::string& error) {
    static int status = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data);
    }();
    if (status != 0) error = errorText("WSAStartup", static_cast<DWORD>(status));
    return status == 0;
}

struct SocketTraits {
    using Value = SOCKET;
    static SOCKET none() { return INVALID_SOCKET; }
    static bool valid(SOCKET s) { return s != INVALID_SOCKET; }
    static void close(SOCKET s) { closesocket(s); }
};
using ScopedSocket = UniqueResource<SocketTraits>;

std::string socketError(const std::string& what) {
    return errorText(what, static_cast<DWORD>(WSAGetLastError()));
}

std::string describePeer(const sockaddr* address, int length) {
    char host[NI_MAXHOST] = {};
    char service[NI_MAXSERV] = {};
    if (getnameinfo(address, length, host, sizeof host, service, sizeof service,
                    NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
        return "unknown peer";
    }
    if (address->sa_family == AF_INET6) return std::string("[") + host + "]:" + service;
    return std::string(host) + ":" + service;
}

bool setBlocking(SOCKET s, bool blocking) {
    u_long nonBlocking = blocking ? 0 : 1;
    return ioctlsocket(s, FIONBIO, &nonBlocking) == 0;
}

class SocketStream final : public OverlappedStream {
public:
    SocketStream(ScopedSocket socket, std::string peer)
        : socket_(std::move(socket)), peer_(std::move(peer)) {}
    ~SocketStream() override { finishIo(); }

    bool shutdownSend() override { return shutdown(socket_.get(), SD_SEND) == 0; }
    std::string peer() const override { return peer_; }

protected:
    bool startRead(std::uint8_t* buffer, DWORD size, OVERLAPPED* ov, DWORD& error) override {
        WSABUF slice{size, reinterpret_cast<char*>(buffer)};
        DWORD flags = 0;
        if (WSARecv(socket_.get(), &slice, 1, nullptr, &flags, ov, nullptr) == 0) return true;
        return pendingOrError(error);
    }

    bool startWrite(const std::uint8_t* data, DWORD size, OVERLAPPED* ov, DWORD& error) override {
        WSABUF slice{size, reinterpret_cast<char*>(const_cast<std::uint8_t*>(data))};
        if (WSASend(socket_.get(), &slice, 1, nullptr, 0, ov, nullptr) == 0) return true;
        return pendingOrError(error);
    }

    bool result(OVERLAPPED* ov, DWORD& bytes, DWORD& error) override {
        DWORD flags = 0;
        if (WSAGetOverlappedResult(socket_.get(), ov, &bytes, FALSE, &flags)) return true;
        error = static_cast<DWORD>(WSAGetLastError());
        return false;
    }

    void cancelIo(OVERLAPPED* ov) override {
        CancelIoEx(reinterpret_cast<HANDLE>(socket_.get()), ov);
    }

    ReadResult readFailure(DWORD) const override { return ReadResult::Failed; }
    bool emptyReadIsEnd() const override { return true; }

private:
    static bool pendingOrError(DWORD& error) {
        error = static_cast<DWORD>(WSAGetLastError());
        return error == WSA_IO_PENDING;
    }

    ScopedSocket socket_;
    std::string peer_;
};

std::unique_ptr<ByteStream> makeStream(ScopedSocket socket, std::string peer, std::string& error) {
    const BOOL on = TRUE;
    setsockopt(socket.get(), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on),
               sizeof on);
    auto stream = std::make_unique<SocketStream>(std::move(socket), std::move(peer));
    if (!stream->init(error)) return nullptr;
    return stream;
}

// A server that vanishes without closing the connection (powered off, its
// cable pulled) is noticed after 10 s of silence and the system's probes
// 5 s apart (ten of them since Windows Vista).
void enableKeepAlive(SOCKET s) {
    tcp_keepalive settings{};
    settings.onoff = 1;
    settings.keepalivetime = 10000;
    settings.keepaliveinterval = 5000;
    DWORD returned = 0;
    WSAIoctl(s, SIO_KEEPALIVE_VALS, &settings, sizeof settings, nullptr, 0, &returned, nullptr,
             nullptr);
}

// Waits for a non-blocking connect to finish within `timeout`.
bool finishConnect(SOCKET s, std::chrono::milliseconds timeout, std::string& error) {
    fd_set writable;
    fd_set failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(s, &writable);
    FD_SET(s, &failed);
    const DWORD ms = toWaitMs(timeout);
    timeval limit{static_cast<long>(ms / 1000), static_cast<long>((ms % 1000) * 1000)};
    const int n = select(0, nullptr, &writable, &failed, ms == INFINITE ? nullptr : &limit);
    if (n == 0) {
        error = "connect: timed out";
        return false;
    }
    if (n < 0) {
        error = socketError("select");
        return false;
    }
    int status = 0;
    int length = sizeof status;
    getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&status), &length);
    if (FD_ISSET(s, &failed) || status != 0) {
        error = errorText("connect", static_cast<DWORD>(status != 0 ? status : WSAECONNREFUSED));
        return false;
    }
    return true;
}

ScopedSocket connectOne(const addrinfo& address, std::chrono::milliseconds timeout,
                        std::string& error) {
    ScopedSocket s(socket(address.ai_family, address.ai_socktype, address.ai_protocol));
    if (!s.valid()) {
        error = socketError("socket");
        return ScopedSocket();
    }
    SetHandleInformation(reinterpret_cast<HANDLE>(s.get()), HANDLE_FLAG_INHERIT, 0);
    setBlocking(s.get(), false);
    if (connect(s.get(), address.ai_addr, static_cast<int>(address.ai_addrlen)) != 0 &&
        WSAGetLastError() != WSAEWOULDBLOCK) {
        error = socketError("connect");
        return ScopedSocket();
    }
    if (!finishConnect(s.get(), timeout, error)) return ScopedSocket();
    setBlocking(s.get(), true);
    return s;
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
    TcpListener(ScopedSocket socket, std::uint16_t port)
        : socket_(std::move(socket)), port_(port) {}

    bool init(std::string& error) {
        acceptEvent_ = createEvent();
        cancelEvent_ = createEvent();
        if (!acceptEvent_.valid() || !cancelEvent_.valid()) {
            error = errorText("CreateEvent", GetLastError());
            return false;
        }
        if (WSAEventSelect(socket_.get(), acceptEvent_.get(), FD_ACCEPT) != 0) {
            error = socketError("WSAEventSelect");
            return false;
        }
        return true;
    }

    // The accept event is a hint, not a promise: under Wine a connection
    // that arrives while the event is being reset can go unannounced until
    // the next one. So no single wait lasts longer than kAcceptRecheck;
    // after it, accept() is asked again.
    AcceptResult accept(std::unique_ptr<ByteStream>& stream,
                        std::chrono::milliseconds timeout) override {
        const bool forever = timeout == kWaitForever;
        const auto deadline = forever ? std::chrono::steady_clock::time_point::max()
                                      : std::chrono::steady_clock::now() + timeout;
        for (;;) {
            if (WaitForSingleObject(cancelEvent_.get(), 0) == WAIT_OBJECT_0) {
                return AcceptResult::Failed;
            }
            sockaddr_storage address{};
            int length = sizeof address;
            ScopedSocket client(
                ::accept(socket_.get(), reinterpret_cast<sockaddr*>(&address), &length));
            if (client.valid()) return adopt(std::move(client), address, length, stream);
            const int code = WSAGetLastError();
            if (code == WSAECONNRESET) continue;  // the client left before being accepted
            if (code != WSAEWOULDBLOCK) return AcceptResult::Failed;
            const HANDLE waits[2] = {acceptEvent_.get(), cancelEvent_.get()};
            const DWORD wait =
                WaitForMultipleObjects(2, waits, FALSE, nextWaitMs(forever, deadline));
            if (wait == WAIT_TIMEOUT) {
                if (!forever && std::chrono::steady_clock::now() >= deadline) {
                    return AcceptResult::Timeout;
                }
                continue;
            }
            if (wait != WAIT_OBJECT_0) return AcceptResult::Failed;
            WSANETWORKEVENTS events;
            WSAEnumNetworkEvents(socket_.get(), acceptEvent_.get(), &events);  // resets the event
        }
    }

    void cancel() override { SetEvent(cancelEvent_.get()); }
    std::uint16_t port() const override { return port_; }

private:
    static constexpr std::chrono::milliseconds kAcceptRecheck{200};

    static DWORD nextWaitMs(bool forever, std::chrono::steady_clock::time_point deadline) {
        if (forever) return toWaitMs(kAcceptRecheck);
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        return toWaitMs(std::min(left, kAcceptRecheck));
    }

    // An accepted socket inherits the listener's event selection and
    // non-blocking mode; both are undone before it becomes a stream.
    AcceptResult adopt(ScopedSocket client, const sockaddr_storage& address, int length,
                       std::unique_ptr<ByteStream>& stream) {
        WSAEventSelect(client.get(), nullptr, 0);
        setBlocking(client.get(), true);
        SetHandleInformation(reinterpret_cast<HANDLE>(client.get()), HANDLE_FLAG_INHERIT, 0);
        std::string error;
        stream =
            makeStream(std::move(client),
                       describePeer(reinterpret_cast<const sockaddr*>(&address), length), error);
        return stream ? AcceptResult::Accepted : AcceptResult::Failed;
    }

    ScopedSocket socket_;
    std::uint16_t port_;
    UniqueHandle acceptEvent_;
    UniqueHandle cancelEvent_;
};

}  // namespace
}  // namespace win32

std::unique_ptr<ByteStream> connectTcp(const std::string& host, std::uint16_t port, IpFamily family,
                                       std::chrono::milliseconds timeout, std::string& error) {
    if (!win32::startWinsock(error)) return nullptr;
    addrinfo hints{};
    hints.ai_family = win32::toAddressFamily(family);
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (const int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &found); rc != 0) {
        error = win32::errorText("cannot resolve " + host, static_cast<DWORD>(rc));
        return nullptr;
    }
    std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> list(found, &freeaddrinfo);
    error = "no address for " + host;
    for (const addrinfo* a = found; a; a = a->ai_next) {
        win32::ScopedSocket s = win32::connectOne(*a, timeout, error);
        if (s.valid()) {
            win32::enableKeepAlive(s.get());
            return win32::makeStream(
                std::move(s), win32::describePeer(a->ai_addr, static_cast<int>(a->ai_addrlen)),
                error);
        }
    }
    error = host + ":" + service + ": " + error;
    return nullptr;
}

std::unique_ptr<StreamListener> listenTcpLoopback(std::uint16_t port, std::string& error) {
    if (!win32::startWinsock(error)) return nullptr;
    win32::ScopedSocket s(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!s.valid()) {
        error = win32::socketError("socket");
        return nullptr;
    }
    SetHandleInformation(reinterpret_cast<HANDLE>(s.get()), HANDLE_FLAG_INHERIT, 0);
    // Another process may not take over the port while we listen on it.
    const BOOL on = TRUE;
    setsockopt(s.get(), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on),
               sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(s.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        error = win32::socketError("bind 127.0.0.1:" + std::to_string(port));
        return nullptr;
    }
    if (listen(s.get(), SOMAXCONN) != 0) {
        error = win32::socketError("listen");
        return nullptr;
    }
    int length = sizeof address;
    if (getsockname(s.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        error = win32::socketError("getsockname");
        return nullptr;
    }
    auto listener = std::make_unique<win32::TcpListener>(std::move(s), ntohs(address.sin_port));
    if (!listener->init(error)) return nullptr;
    return listener;
}

}  // namespace platform
