#include "dispatch_helpers.h"

#include <gtest/gtest.h>

#include <thread>

namespace simnet_test {

using namespace simconnect;

std::vector<Bytes> Inbox::withId(std::uint32_t id) const {
    std::vector<Bytes> found;
    for (const Bytes& message : messages) {
        if (message.size() >= sizeof(SIMCONNECT_RECV) &&
            reinterpret_cast<const SIMCONNECT_RECV*>(message.data())->dwID == id) {
            found.push_back(message);
        }
    }
    return found;
}

void SIMCONNECT_CALL collect(SIMCONNECT_RECV* data, DWORD cbData, void* context) {
    auto* inbox = static_cast<Inbox*>(context);
    if (data->dwSize != cbData) ++inbox->sizeMismatches;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(data);
    inbox->messages.emplace_back(bytes, bytes + cbData);
}

HRESULT pump(simconnect::Library& lib, HANDLE handle, Inbox& inbox, std::size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    for (;;) {
        const HRESULT result = lib.callDispatch(handle, collect, &inbox);
        if (result != S_OK_RESULT || inbox.messages.size() >= count ||
            std::chrono::steady_clock::now() > deadline) {
            return result;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

HRESULT pumpUntilFailure(simconnect::Library& lib, HANDLE handle, Inbox& inbox) {
    return pump(lib, handle, inbox, static_cast<std::size_t>(-1));
}

bool eventually(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

DWORD lastSendId(simconnect::Library& lib, HANDLE handle) {
    DWORD id = 0;
    EXPECT_EQ(lib.getLastSentPacketId(handle, &id), S_OK_RESULT);
    return id;
}

HRESULT TargetedLibrary::open(HANDLE* handle, const char* name) {
    libraries_.push_back(std::make_unique<simnet::NetworkLibrary>(target_));
    const HRESULT result = libraries_.back()->open(handle, name);
    if (result == S_OK_RESULT && handle && *handle) owners_[*handle] = libraries_.back().get();
    return result;
}

HRESULT TargetedLibrary::close(HANDLE handle) {
    const HRESULT result = owner(handle).close(handle);
    owners_.erase(handle);
    return result;
}

simconnect::Library& TargetedLibrary::owner(HANDLE handle) {
    const auto it = owners_.find(handle);
    if (it == owners_.end()) return none_;
    return *it->second;
}

}  // namespace simnet_test
