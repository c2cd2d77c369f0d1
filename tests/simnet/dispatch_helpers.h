#pragma once

// Receiving through SimConnect_CallDispatch in the network tests.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "sim/simconnect_api.h"

namespace simnet_test {

using Bytes = std::vector<std::uint8_t>;

// How long a test waits for something that should happen at once.
constexpr std::chrono::seconds kPatience{10};

// The messages a dispatch procedure got, as bytes.
struct Inbox {
    std::vector<Bytes> messages;
    int sizeMismatches = 0;  // cbData differing from the message's size word

    // The messages with this SIMCONNECT_RECV id.
    std::vector<Bytes> withId(std::uint32_t id) const;
};

// A dispatch procedure; the context is an Inbox.
void SIMCONNECT_CALL collect(simconnect::SIMCONNECT_RECV* data, simconnect::DWORD cbData,
                             void* context);

// Dispatches until `count` messages arrived, a call fails, or time is up;
// returns the last result.
simconnect::HRESULT pump(simconnect::HANDLE handle, Inbox& inbox, std::size_t count);
simconnect::HRESULT pumpUntilFailure(simconnect::HANDLE handle, Inbox& inbox);

// Polls until the condition holds or kPatience passed.
bool eventually(const std::function<bool()>& condition);

simconnect::DWORD lastSendId(simconnect::HANDLE handle);

}  // namespace simnet_test
