#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "simnet/codec.h"
#include "simnet/endpoint.h"

namespace simnet {

// What a SimConnect server made of one Open.
struct ProbeResult {
    enum class Outcome {
        Answered,       // RECV_OPEN came: `open` holds it
        Unreachable,    // no connection (refused, timed out, no route): `detail` says
        Silent,         // connected, but no answer within the time
        Ended,          // the server ended the connection without an answer
        NotSimConnect,  // the server sent bytes that are not SimConnect: `detail` says
        Quit,           // QUIT instead of an answer
        Exception,      // an EXCEPTION instead of an answer: `exception` is its code
    };
    Outcome outcome = Outcome::Unreachable;
    RecvOpen open;
    std::uint32_t exception = 0;
    std::string detail;
};

// Connects to `endpoint`, sends Open with `clientName` and waits up to
// `answerTimeout` (also the connect timeout) for the server's answer, then
// closes the connection. Blocks the calling thread for at most about twice
// `answerTimeout`; any thread; no shared state.
ProbeResult probeServer(const Endpoint& endpoint, const std::string& clientName,
                        std::chrono::milliseconds answerTimeout);

// "KittyHawk 11.0 (build 282174.999)": the answering application, its name
// through outsideText() (log/outside_text.h).
std::string describeApplication(const RecvOpen& open);

}  // namespace simnet
