#include "simulator/emulator_front.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <set>
#include <utility>
#include <variant>
#include <vector>

#include "log/logger.h"

namespace simnet {

namespace {

using namespace simconnect;

constexpr const char* kLogPrefix = "SimConnect server: ";
// Drains of one connection in a row: the second one finds a connection
// that broke once its last messages were taken (a QUIT, then the end).
constexpr int kDrainRounds = 4;

std::string clientLabel(const ServerSession& session) {
    return "client " + std::to_string(session.clientId()) + " (" + session.peer() + ")";
}

std::string hex(HRESULT result) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(result));
    return text;
}

std::uint32_t le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// A message the emulator queued, as it came. One that does not decode
// (the emulator can be scripted to queue malformed ones) still goes out
// with its version, id and body; only its size word is the true one, since
// on the wire that word is the framing.
bool forward(ServerSession& session, const std::uint8_t* bytes, std::size_t size) {
    ServerMessage message;
    if (decodeServerMessage(bytes, size, message) != CodecError::None) {
        if (size < kServerHeaderSize) return false;
        message.version = le32(bytes + 4);
        message.body =
            RecvRaw{le32(bytes + 8), TrailingBytes{{bytes + kServerHeaderSize, bytes + size}}};
    }
    return session.send(message);
}

struct Delivery {
    ServerSession* session;
    int count = 0;
    bool dropped = false;  // a message the wire cannot carry
};

void SIMCONNECT_CALL deliver(SIMCONNECT_RECV* data, DWORD size, void* context) {
    auto* delivery = static_cast<Delivery*>(context);
    ++delivery->count;
    if (!forward(*delivery->session, reinterpret_cast<const std::uint8_t*>(data), size)) {
        delivery->dropped = true;
    }
}

// One decoded call, made on the client's emulator connection. Results are
// not looked at: the client's library returned S_OK when it sent the
// message, and everything the server has to say comes as a message.
struct EmulatorCall {
    SimEmulator& sim;
    HANDLE h;

    void operator()(const OpenCall&) const {}
    void operator()(const MapClientEventToSimEventCall& c) const {
        sim.mapClientEventToSimEvent(h, c.eventId, c.eventName.c_str());
    }
    void operator()(const TransmitClientEventCall& c) const {
        sim.transmitClientEvent(h, c.eventId, c.data, c.groupId, c.flags);
    }
    void operator()(const AddToDataDefinitionCall& c) const {
        sim.addToDataDefinition(h, c.defineId, c.datumName.c_str(),
                                static_cast<SIMCONNECT_DATATYPE>(c.datumType));
    }
    void operator()(const RequestDataOnSimObjectCall& c) const {
        sim.requestDataOnSimObject(h, c.requestId, c.defineId,
                                   static_cast<SIMCONNECT_PERIOD>(c.period), c.flags);
    }
    void operator()(const MapClientDataNameToIdCall& c) const {
        sim.mapClientDataNameToId(h, c.name.c_str(), c.clientDataId);
    }
    void operator()(const CreateClientDataCall& c) const {
        sim.createClientData(h, c.clientDataId, c.size, c.flags);
    }
    void operator()(const AddToClientDataDefinitionCall& c) const {
        sim.addToClientDataDefinition(h, c.defineId, c.offset, c.sizeOrType);
    }
    void operator()(const RequestClientDataCall& c) const {
        sim.requestClientData(h, c.clientDataId, c.requestId, c.defineId,
                              static_cast<SIMCONNECT_CLIENT_DATA_PERIOD>(c.period), c.flags);
    }
    void operator()(const SetClientDataCall& c) const {
        // No bytes is still a write, of size 0, that the emulator judges.
        static const std::uint8_t kNothing = 0;
        const std::vector<std::uint8_t>& bytes = c.data.bytes;
        sim.setClientData(h, c.clientDataId, c.defineId, static_cast<DWORD>(bytes.size()),
                          bytes.empty() ? &kNothing : bytes.data());
    }
    void operator()(const ClearDataDefinitionCall& c) const {
        sim.clearDataDefinition(h, c.defineId);
    }
    void operator()(const SubscribeToSystemEventCall& c) const {
        sim.subscribeToSystemEvent(h, c.eventId, c.name.c_str());
    }
    void operator()(const UnsubscribeFromSystemEventCall& c) const {
        sim.unsubscribeFromSystemEvent(h, c.eventId);
    }
    void operator()(const RequestSystemStateCall& c) const {
        sim.requestSystemState(h, c.requestId, c.name.c_str());
    }
};

// What one client holds in the emulator: each mapping and request id once
// (a repeated id replaces the entry), and each datum added to a definition;
// and the bytes that may cost: a request as much as its largest answer
// (which the emulator also keeps, to tell a change), any other entry as
// much as its longest name.
class EntryBudget {
public:
    static constexpr std::size_t kEntryBytes = 256;
    static constexpr std::size_t kRequestBytes = SIMCONNECT_CLIENTDATA_MAX_SIZE;

    EntryBudget(std::size_t limit, std::size_t byteLimit) : limit_(limit), byteLimit_(byteLimit) {}

    // False once the client could hold more than either limit.
    bool admit(const Call& call) {
        const std::size_t entries = keyed_.size() + appended_;
        const std::size_t bytes = entries * kEntryBytes + requests_ * kRequestBytes;
        if (entries >= limit_ || bytes + kEntryBytes + kRequestBytes > byteLimit_) return false;
        const auto kind = static_cast<std::uint32_t>(callId(call));
        std::visit([&](const auto& c) { count(kind, c); }, call);
        return true;
    }

private:
    bool key(std::uint32_t kind, std::uint32_t id) { return keyed_.insert({kind, id}).second; }
    void count(std::uint32_t kind, const MapClientEventToSimEventCall& c) { key(kind, c.eventId); }
    void count(std::uint32_t kind, const RequestDataOnSimObjectCall& c) {
        requests_ += key(kind, c.requestId) ? 1 : 0;
    }
    void count(std::uint32_t kind, const MapClientDataNameToIdCall& c) {
        key(kind, c.clientDataId);
    }
    void count(std::uint32_t kind, const CreateClientDataCall& c) { key(kind, c.clientDataId); }
    void count(std::uint32_t kind, const RequestClientDataCall& c) {
        requests_ += key(kind, c.requestId) ? 1 : 0;
    }
    void count(std::uint32_t kind, const SubscribeToSystemEventCall& c) { key(kind, c.eventId); }
    void count(std::uint32_t, const AddToDataDefinitionCall&) { ++appended_; }
    void count(std::uint32_t, const AddToClientDataDefinitionCall&) { ++appended_; }
    template <class Other>
    void count(std::uint32_t, const Other&) {}

    const std::size_t limit_;
    const std::size_t byteLimit_;
    std::set<std::pair<std::uint32_t, std::uint32_t>> keyed_;
    std::size_t appended_ = 0;
    std::size_t requests_ = 0;
};

}  // namespace

// One client as the pump sees it.
struct EmulatorFront::Link {
    explicit Link(std::shared_ptr<ServerSession> s) : session(std::move(s)) {}

    const std::shared_ptr<ServerSession> session;
    Mutex lock;                                // held by the pump while it drains, and by the close
    HANDLE handle GUARDED_BY(lock) = nullptr;  // the emulator connection, once opened
    bool ended GUARDED_BY(lock) = false;       // closed or closing: nothing more to drain
};

// Serves one client on its reader thread.
class EmulatorFront::Handler final : public ClientHandler {
public:
    Handler(EmulatorFront& front, std::shared_ptr<Link> link)
        : front_(front),
          link_(std::move(link)),
          budget_(front.options_.maxEntriesPerClient, front.options_.maxBytesPerClient) {}

    void onMessage(const ClientMessage& message) override {
        if (const auto* open = std::get_if<OpenCall>(&message.call)) {
            openConnection(message, *open);
        } else if (!handle_) {
            refuse(std::string("called ") + callName(message.call) + " before its Open");
        } else if (!budget_.admit(message.call)) {
            refuse("holds more than " + std::to_string(front_.options_.maxEntriesPerClient) +
                   " definitions, mappings and requests, or " +
                   std::to_string(front_.options_.maxBytesPerClient / 1024) + " KiB of them");
        } else {
            front_.sim_.setNextSendId(handle_, message.sendId);
            std::visit(EmulatorCall{front_.sim_, handle_}, message.call);
        }
        front_.wakePump();
    }

    void onClosed(const std::string&) override {
        {
            MutexLock guard(link_->lock);
            link_->ended = true;
            if (handle_) front_.sim_.close(handle_);
        }
        front_.forget(link_->session->clientId());
    }

private:
    void openConnection(const ClientMessage& message, const OpenCall& call) {
        ServerSession& session = *link_->session;
        if (handle_) {
            refuse("opened twice");
            return;
        }
        if (message.version != kProtocolVersion) {
            logWarn(kLogPrefix + clientLabel(session) + " speaks protocol version " +
                    std::to_string(message.version) + "; only " + std::to_string(kProtocolVersion) +
                    " is served");
            session.sendException(SIMCONNECT_EXCEPTION_VERSION_MISMATCH, message.sendId,
                                  SIMCONNECT_UNUSED);
            session.close();
            return;
        }
        HANDLE handle = nullptr;
        const HRESULT result = front_.sim_.open(&handle, call.name.c_str());
        if (result != S_OK_RESULT) {
            logInfo(kLogPrefix + clientLabel(session) + " not opened: the simulator refused (" +
                    hex(result) + ")");
            session.close();
            return;
        }
        handle_ = handle;
        MutexLock guard(link_->lock);
        link_->handle = handle;
    }

    void refuse(const std::string& why) {
        logWarn(kLogPrefix + clientLabel(*link_->session) + " closed: " + why);
        link_->session->abort();
    }

    EmulatorFront& front_;
    const std::shared_ptr<Link> link_;
    HANDLE handle_ = nullptr;  // this thread's copy of link_->handle
    EntryBudget budget_;
};

EmulatorFront::EmulatorFront(SimEmulator& sim, EmulatorFrontOptions options)
    : sim_(sim),
      options_(std::move(options)),
      server_([this](std::shared_ptr<ServerSession> session) { return admit(std::move(session)); },
              options_.server) {}

EmulatorFront::~EmulatorFront() {
    stop();
}

bool EmulatorFront::start(std::string& error) {
    {
        MutexLock guard(lock_);
        if (stopping_ || pump_.joinable()) {
            error = "SimConnect server already started";
            return false;
        }
        pump_ = std::thread([this] { pumpLoop(); });
    }
    if (server_.start(error)) return true;
    stop();
    return false;
}

void EmulatorFront::stop() {
    {
        MutexLock guard(lock_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (pump_.joinable()) pump_.join();
    server_.stop();  // ends every client, and so its emulator connection
}

std::unique_ptr<ClientHandler> EmulatorFront::admit(std::shared_ptr<ServerSession> session) {
    auto link = std::make_shared<Link>(session);
    {
        MutexLock guard(lock_);
        if (stopping_) return nullptr;
        links_[session->clientId()] = link;
    }
    return std::make_unique<Handler>(*this, std::move(link));
}

void EmulatorFront::forget(std::uint32_t clientId) {
    MutexLock guard(lock_);
    links_.erase(clientId);
}

void EmulatorFront::wakePump() {
    {
        MutexLock guard(lock_);
        woken_ = true;
    }
    wake_.notify_all();
}

std::chrono::nanoseconds EmulatorFront::untilNextPump() {
    sim_.runDueFrames();
    const std::chrono::nanoseconds period = options_.pumpPeriod;
    const std::optional<Clock::TimePoint> frame = sim_.nextFrameDue();
    if (!frame) return period;
    const auto untilFrame =
        std::chrono::duration_cast<std::chrono::nanoseconds>(*frame - sim_.clock().now());
    return std::max(std::chrono::nanoseconds(0), std::min(period, untilFrame));
}

void EmulatorFront::pumpLoop() {
    for (;;) {
        const std::chrono::nanoseconds wait = untilNextPump();
        std::vector<std::shared_ptr<Link>> links;
        {
            MutexLock guard(lock_);
            wake_.wait_for(guard.native(), wait,
                           [this]() REQUIRES(lock_) { return woken_ || stopping_; });
            if (stopping_) return;
            woken_ = false;
            for (const auto& entry : links_)
                links.push_back(entry.second);
        }
        for (const auto& link : links)
            drain(*link);
    }
}

void EmulatorFront::drain(Link& link) {
    MutexLock guard(link.lock);
    if (link.ended || !link.handle) return;
    ServerSession& session = *link.session;
    for (int round = 0; round < kDrainRounds; ++round) {
        Delivery delivery{&session};
        const HRESULT result = sim_.callDispatch(link.handle, &deliver, &delivery);
        if (delivery.dropped && session.isOpen()) {
            logWarn(kLogPrefix + clientLabel(session) +
                    ": dropped a queued message the wire cannot carry");
        }
        if (result < 0 || !session.isOpen()) {
            // Broken in the emulator: what went out is read, then the end.
            link.ended = true;
            session.close();
            return;
        }
        if (delivery.count == 0) return;
    }
}

}  // namespace simnet
