#include "sim/simconnect_client.h"

// Placeholder until the SimConnect client is written.
SimConnectClient::SimConnectClient(Clock& clock, ProcessProbe probe) : clock_(clock), probe_(std::move(probe)) {}
SimConnectClient::~SimConnectClient() { stop(); }
bool SimConnectClient::start(const std::string&, std::function<void(bool)>, std::function<bool()>, std::string&) {
    running_ = true;
    return true;
}
void SimConnectClient::stop() { running_ = false; }
void SimConnectClient::setBatteryHandler(std::function<void(bool)>) {}
void SimConnectClient::setClientDataHandler(ClientDataHandler) {}
void SimConnectClient::setExitHandler(std::function<void()>) {}
bool SimConnectClient::transmitEvent(const std::string&, std::string& error) {
    error = "SimConnect is not connected";
    return false;
}
bool SimConnectClient::mapClientDataName(const std::string&, std::uint32_t, std::string& error) {
    error = "SimConnect is not connected";
    return false;
}
bool SimConnectClient::addClientDataDefinition(std::uint32_t, std::uint32_t, std::string& error) {
    error = "SimConnect is not connected";
    return false;
}
bool SimConnectClient::requestClientData(std::uint32_t, std::uint32_t, std::uint32_t, std::string& error) {
    error = "SimConnect is not connected";
    return false;
}
bool SimConnectClient::setClientData(std::uint32_t, std::uint32_t, const std::uint8_t*, std::string& error) {
    error = "SimConnect is not connected";
    return false;
}
