#include "sim/mobiflight_client.h"

// Placeholder until the MobiFlight client is written.
MobiFlightClient::MobiFlightClient(Clock& clock) : clock_(clock) {}
MobiFlightClient::~MobiFlightClient() { stop(); }
bool MobiFlightClient::start(SimConnectClient&, const MobiFlightSettings&, std::string&) {
    running_ = true;
    return true;
}
void MobiFlightClient::stop() { running_ = false; }
void MobiFlightClient::setLVarHandler(std::function<void(const std::string&)>) {}
void MobiFlightClient::onSimConnectState(bool) {}
bool MobiFlightClient::send(const std::string&, int, std::int32_t, std::string& error) {
    error = "MobiFlight not running";
    return false;
}
bool MobiFlightClient::sendNow(const std::string&, std::string& error) {
    error = "MobiFlight not running";
    return false;
}
void MobiFlightClient::dropPending(const std::string&) {}
