#include "simnet/client_connection.h"

#include <utility>

#include "log/logger.h"
#include "simnet/frame_assembler.h"

namespace simnet {

namespace {

using namespace simconnect;

constexpr std::size_t kReadChunk = 16 * 1024;

std::unique_ptr<platform::ByteStream> connectTo(const Endpoint& endpoint,
                                                const ClientConnection::Options& options,
                                                std::string& error) {
    if (endpoint.transport == Endpoint::Transport::Pipe) {
        return platform::connectLocalPipe(endpoint.pipeName, options.pipeBusyWait, error);
    }
    return platform::connectTcp(endpoint.address, endpoint.port, endpoint.family,
                                options.connectTimeout, error);
}

}  // namespace

ClientConnection::ClientConnection(std::unique_ptr<platform::ByteStream> stream, std::string server,
                                   const Options& options)
    : stream_(std::move(stream)),
      server_(std::move(server)),
      maxQueuedBytes_(options.maxQueuedBytes) {}

ClientConnection::~ClientConnection() {
    {
        MutexLock lock(queueLock_);
        stopping_ = true;
    }
    spaceFreed_.notify_all();
    stream_->cancel();
    if (reader_.joinable()) reader_.join();
}

HRESULT ClientConnection::open(const Endpoint& endpoint, const std::string& name,
                               const Options& options, std::unique_ptr<ClientConnection>& out,
                               std::string& error) {
    out.reset();
    if (name.size() >= kStringFieldSize) {
        error = "client name of 256 or more characters";
        return INSUFFICIENT_BUFFER_RESULT;
    }
    std::unique_ptr<platform::ByteStream> stream = connectTo(endpoint, options, error);
    if (!stream) return E_FAIL_RESULT;
    std::unique_ptr<ClientConnection> connection(
        new ClientConnection(std::move(stream), endpoint.describe(), options));
    OpenCall call;
    call.name = name;
    if (connection->send(call) != S_OK_RESULT) {
        error = "sending Open to " + endpoint.describe() + " failed";
        return E_FAIL_RESULT;
    }
    connection->reader_ = std::thread([c = connection.get()] { c->readerLoop(); });
    out = std::move(connection);
    return S_OK_RESULT;
}

HRESULT ClientConnection::send(const Call& call) {
    MutexLock lock(sendLock_);
    if (linkFailed_.load()) return LINK_FAILED_RESULT;
    const std::uint32_t sendId = lastSendId_.load() + 1;
    if (encodeCall(sendId, call, sendBuffer_) != CodecError::None) {
        lastSendId_ = sendId;  // refused here, as the SDK's library does, yet counted
        return INSUFFICIENT_BUFFER_RESULT;
    }
    std::string error;
    if (!stream_->sendAll(sendBuffer_.data(), sendBuffer_.size(), error)) {
        markLinkFailed();
        return LINK_FAILED_RESULT;
    }
    lastSendId_ = sendId;
    return S_OK_RESULT;
}

HRESULT ClientConnection::refuseOversized() {
    MutexLock lock(sendLock_);
    if (linkFailed_.load()) return LINK_FAILED_RESULT;
    ++lastSendId_;
    return INSUFFICIENT_BUFFER_RESULT;
}

HRESULT ClientConnection::callDispatch(DispatchProc proc, void* context) {
    if (!proc) return E_INVALIDARG_RESULT;
    std::deque<std::vector<std::uint8_t>> batch;
    bool failed = false;
    {
        MutexLock lock(queueLock_);
        batch.swap(queue_);
        queuedBytes_ = 0;
        failed = linkFailed_.load();
    }
    spaceFreed_.notify_all();
    for (std::vector<std::uint8_t>& message : batch) {
        proc(reinterpret_cast<SIMCONNECT_RECV*>(message.data()), static_cast<DWORD>(message.size()),
             context);
    }
    return failed ? LINK_FAILED_RESULT : S_OK_RESULT;
}

void ClientConnection::readerLoop() {
    std::vector<std::uint8_t> buffer(kReadChunk);
    FrameAssembler assembler(kServerHeaderSize, kMaxServerMessageSize);
    const auto sink = [this](const std::uint8_t* message, std::size_t size) {
        return enqueue(message, size);
    };
    for (;;) {
        std::size_t received = 0;
        const auto result =
            stream_->receive(buffer.data(), buffer.size(), received, platform::kWaitForever);
        if (result == platform::ByteStream::ReadResult::Timeout) continue;
        if (result != platform::ByteStream::ReadResult::Data) break;
        if (!assembler.feed(buffer.data(), received, sink)) {
            noteBrokenStream(assembler);
            break;
        }
    }
    markLinkFailed();
}

// Once per connection: its reader ends here. A stop of the receiver (the
// connection closing) is no fault of the server.
void ClientConnection::noteBrokenStream(const FrameAssembler& assembler) {
    if (!assembler.framingLost()) return;
    const std::string reason = kNotSimConnect + assembler.error();
    {
        MutexLock lock(queueLock_);
        brokenStream_ = reason;
    }
    logWarn("SimConnect link to " + server_ + " ended: " + reason);
}

std::string ClientConnection::brokenStream() const {
    MutexLock lock(queueLock_);
    return brokenStream_;
}

bool ClientConnection::enqueue(const std::uint8_t* message, std::size_t size) {
    MutexLock lock(queueLock_);
    // One message always fits, so even one larger than the bound gets through.
    spaceFreed_.wait(lock.native(), [&]() REQUIRES(queueLock_) {
        return stopping_ || queue_.empty() || queuedBytes_ + size <= maxQueuedBytes_;
    });
    if (stopping_) return false;
    queue_.emplace_back(message, message + size);
    queuedBytes_ += size;
    return true;
}

void ClientConnection::markLinkFailed() {
    {
        MutexLock lock(queueLock_);
        linkFailed_ = true;
    }
    stream_->cancel();
}

}  // namespace simnet
