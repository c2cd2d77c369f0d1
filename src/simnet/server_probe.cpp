#include "simnet/server_probe.h"

#include <thread>
#include <variant>

#include "log/outside_text.h"
#include "simnet/client_connection.h"

namespace simnet {

namespace {

using namespace simconnect;

constexpr std::chrono::milliseconds kPollInterval{10};

// Collects the first message that decides the probe.
struct Verdict {
    bool decided = false;
    ProbeResult result;
};

void SIMCONNECT_CALL onMessage(SIMCONNECT_RECV* data, DWORD size, void* context) {
    auto* verdict = static_cast<Verdict*>(context);
    ServerMessage message;
    if (verdict->decided || decodeServerMessage(reinterpret_cast<const std::uint8_t*>(data), size,
                                                message) != CodecError::None) {
        return;
    }
    if (const auto* open = std::get_if<RecvOpen>(&message.body)) {
        verdict->result.outcome = ProbeResult::Outcome::Answered;
        verdict->result.open = *open;
        verdict->decided = true;
    } else if (const auto* exception = std::get_if<RecvException>(&message.body)) {
        verdict->result.outcome = ProbeResult::Outcome::Exception;
        verdict->result.exception = exception->exception;
        verdict->decided = true;
    } else if (std::holds_alternative<RecvQuit>(message.body)) {
        verdict->result.outcome = ProbeResult::Outcome::Quit;
        verdict->decided = true;
    }
}

void noteEnd(const ClientConnection& connection, ProbeResult& result) {
    result.detail = connection.brokenStream();
    result.outcome =
        result.detail.empty() ? ProbeResult::Outcome::Ended : ProbeResult::Outcome::NotSimConnect;
}

}  // namespace

ProbeResult probeServer(const Endpoint& endpoint, const std::string& clientName,
                        std::chrono::milliseconds answerTimeout) {
    ClientConnection::Options options;
    options.connectTimeout = answerTimeout;
    options.pipeBusyWait = answerTimeout;
    std::unique_ptr<ClientConnection> connection;
    ProbeResult unreachable;
    if (ClientConnection::open(endpoint, clientName, options, connection, unreachable.detail) !=
        S_OK_RESULT) {
        return unreachable;
    }
    Verdict verdict;
    const auto deadline = std::chrono::steady_clock::now() + answerTimeout;
    while (!verdict.decided) {
        if (connection->callDispatch(&onMessage, &verdict) != S_OK_RESULT) {
            if (!verdict.decided) noteEnd(*connection, verdict.result);
            break;
        }
        if (verdict.decided) break;
        if (std::chrono::steady_clock::now() >= deadline) {
            verdict.result.outcome = ProbeResult::Outcome::Silent;
            break;
        }
        std::this_thread::sleep_for(kPollInterval);
    }
    return verdict.result;
}

std::string describeApplication(const RecvOpen& open) {
    return outsideText(open.applicationName) + " " + std::to_string(open.applicationVersionMajor) +
           "." + std::to_string(open.applicationVersionMinor) + " (build " +
           std::to_string(open.applicationBuildMajor) + "." +
           std::to_string(open.applicationBuildMinor) + ")";
}

}  // namespace simnet
