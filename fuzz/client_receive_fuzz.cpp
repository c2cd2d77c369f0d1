// What the program does with the messages a SimConnect server sends it: the
// SimConnect client's dispatch (open answers, exceptions, the battery's
// data, client data), the MobiFlight client's handling of its areas and the
// backlight payload that reaches the LED state. The input is a stream of
// messages, each cut where its size word says (or at the end), so that a
// message's size word and the length it arrives with may differ. Beyond
// "no crash": nothing a server sends makes a handler throw.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "config/app_config.h"
#include "mapping/output_state.h"
#include "sim/mobiflight_session.h"
#include "sim/simconnect_client.h"
#include "simnet/network_library.h"

namespace {

struct Receiver {
    Receiver() {
        mobiflight.setLVarHandler([this](const LVarPayload& payload) {
            lights.onLVarPayload(payload, Clock::system().now());
        });
        // The engine's work, here on the fuzzing thread.
        client.setClientDataHandler(
            [this](std::uint32_t requestId, const std::uint8_t* data, std::uint32_t size) {
                const Clock::TimePoint now = Clock::system().now();
                mobiflight.onClientData(
                    requestId, std::vector<std::uint8_t>(data, data + (data ? size : 0)), now);
                mobiflight.tick(now);
            });
        client.setBatteryHandler([](bool) {});
    }

    simnet::NetworkLibrary library;  // never opened: the client is not started
    SimConnectClient client{library, Clock::system(), [] { return false; }};
    MobiFlightSession mobiflight{client, MobiFlightSettings{}};
    OutputState lights{Clock::system()};
};

std::size_t nextMessageSize(const std::uint8_t* data, std::size_t rest) {
    if (rest < 4) return rest;
    std::uint32_t size = 0;
    std::memcpy(&size, data, sizeof size);
    if (size < 4 || size > rest) return rest;
    return size;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Receiver* receiver = new Receiver();  // lives for the process
    std::size_t pos = 0;
    while (pos < size) {
        const std::size_t length = nextMessageSize(data + pos, size - pos);
        receiver->client.dispatchForHarness(data + pos, static_cast<std::uint32_t>(length));
        pos += length;
    }
    return 0;
}
