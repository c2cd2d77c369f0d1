#pragma once

// Receiving through SimConnect_CallDispatch in the network tests.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "sim/simconnect_api.h"
#include "simnet/network_library.h"

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
simconnect::HRESULT pump(simconnect::Library& lib, simconnect::HANDLE handle, Inbox& inbox,
                         std::size_t count);
simconnect::HRESULT pumpUntilFailure(simconnect::Library& lib, simconnect::HANDLE handle,
                                     Inbox& inbox);

// Polls until the condition holds or kPatience passed.
bool eventually(const std::function<bool()>& condition);

simconnect::DWORD lastSendId(simconnect::Library& lib, simconnect::HANDLE handle);

// The network client for tests that open connections to several servers:
// each open goes to the current target (nullopt: SimConnect.cfg, else the
// pipe, as the drop-in library does) through a NetworkLibrary of its own,
// and every other call to the library that opened the handle. One thread.
class TargetedLibrary final : public simconnect::Library {
public:
    void setTarget(std::optional<simnet::Endpoint> target) { target_ = std::move(target); }

    std::string describe() const override { return "test network client"; }
    simconnect::HRESULT open(simconnect::HANDLE* handle, const char* name) override;
    simconnect::HRESULT close(simconnect::HANDLE handle) override;
    simconnect::HRESULT callDispatch(simconnect::HANDLE h, simconnect::DispatchProc p,
                                     void* c) override {
        return owner(h).callDispatch(h, p, c);
    }
    simconnect::HRESULT addToDataDefinition(simconnect::HANDLE h, simconnect::DWORD a,
                                            const char* b, const char* c,
                                            simconnect::SIMCONNECT_DATATYPE d, float e,
                                            simconnect::DWORD f) override {
        return owner(h).addToDataDefinition(h, a, b, c, d, e, f);
    }
    simconnect::HRESULT requestDataOnSimObject(simconnect::HANDLE h, simconnect::DWORD a,
                                               simconnect::DWORD b, simconnect::DWORD c,
                                               simconnect::SIMCONNECT_PERIOD d, simconnect::DWORD e,
                                               simconnect::DWORD f, simconnect::DWORD g,
                                               simconnect::DWORD i) override {
        return owner(h).requestDataOnSimObject(h, a, b, c, d, e, f, g, i);
    }
    simconnect::HRESULT mapClientEventToSimEvent(simconnect::HANDLE h, simconnect::DWORD a,
                                                 const char* b) override {
        return owner(h).mapClientEventToSimEvent(h, a, b);
    }
    simconnect::HRESULT transmitClientEvent(simconnect::HANDLE h, simconnect::DWORD a,
                                            simconnect::DWORD b, simconnect::DWORD c,
                                            simconnect::DWORD d, simconnect::DWORD e) override {
        return owner(h).transmitClientEvent(h, a, b, c, d, e);
    }
    simconnect::HRESULT mapClientDataNameToId(simconnect::HANDLE h, const char* a,
                                              simconnect::DWORD b) override {
        return owner(h).mapClientDataNameToId(h, a, b);
    }
    simconnect::HRESULT addToClientDataDefinition(simconnect::HANDLE h, simconnect::DWORD a,
                                                  simconnect::DWORD b, simconnect::DWORD c, float d,
                                                  simconnect::DWORD e) override {
        return owner(h).addToClientDataDefinition(h, a, b, c, d, e);
    }
    simconnect::HRESULT requestClientData(simconnect::HANDLE h, simconnect::DWORD a,
                                          simconnect::DWORD b, simconnect::DWORD c,
                                          simconnect::SIMCONNECT_CLIENT_DATA_PERIOD d,
                                          simconnect::DWORD e, simconnect::DWORD f,
                                          simconnect::DWORD g, simconnect::DWORD i) override {
        return owner(h).requestClientData(h, a, b, c, d, e, f, g, i);
    }
    simconnect::HRESULT setClientData(simconnect::HANDLE h, simconnect::DWORD a,
                                      simconnect::DWORD b, simconnect::DWORD c, simconnect::DWORD d,
                                      simconnect::DWORD e, void* f) override {
        return owner(h).setClientData(h, a, b, c, d, e, f);
    }
    simconnect::HRESULT createClientData(simconnect::HANDLE h, simconnect::DWORD a,
                                         simconnect::DWORD b, simconnect::DWORD c) override {
        return owner(h).createClientData(h, a, b, c);
    }
    simconnect::HRESULT getLastSentPacketId(simconnect::HANDLE h, simconnect::DWORD* a) override {
        return owner(h).getLastSentPacketId(h, a);
    }
    simconnect::HRESULT clearDataDefinition(simconnect::HANDLE h, simconnect::DWORD a) override {
        return owner(h).clearDataDefinition(h, a);
    }
    simconnect::HRESULT subscribeToSystemEvent(simconnect::HANDLE h, simconnect::DWORD a,
                                               const char* b) override {
        return owner(h).subscribeToSystemEvent(h, a, b);
    }
    simconnect::HRESULT unsubscribeFromSystemEvent(simconnect::HANDLE h,
                                                   simconnect::DWORD a) override {
        return owner(h).unsubscribeFromSystemEvent(h, a);
    }
    simconnect::HRESULT requestSystemState(simconnect::HANDLE h, simconnect::DWORD a,
                                           const char* b) override {
        return owner(h).requestSystemState(h, a, b);
    }

private:
    // The library that opened `handle`; an unknown one goes to a library
    // that has no connections, which answers as the SDK's does.
    simconnect::Library& owner(simconnect::HANDLE handle);

    std::optional<simnet::Endpoint> target_;
    std::vector<std::unique_ptr<simnet::NetworkLibrary>> libraries_;
    std::map<simconnect::HANDLE, simnet::NetworkLibrary*> owners_;
    simnet::NetworkLibrary none_{simnet::Endpoint::tcp("127.0.0.1", 1)};
};

}  // namespace simnet_test
