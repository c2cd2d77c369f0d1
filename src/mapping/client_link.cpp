#include "mapping/client_link.h"

#include "sim/mobiflight_client.h"
#include "sim/simconnect_client.h"

static_assert(static_cast<int>(SimLink::kPlain) == MobiFlightClient::kPlain &&
                  static_cast<int>(SimLink::kHold) == MobiFlightClient::kHold &&
                  static_cast<int>(SimLink::kEncoder) == MobiFlightClient::kEncoder,
              "send kinds pass through unchanged");

bool ClientSimLink::ready() const {
    return mobiFlight_.isReady();
}

bool ClientSimLink::queueCommand(const std::string& rpn, Kind kind, std::int32_t amount,
                                 std::string& error) {
    return mobiFlight_.send(rpn, kind, amount, error);
}

bool ClientSimLink::sendNow(const std::string& rpn, std::string& error) {
    return mobiFlight_.sendNow(rpn, error);
}

void ClientSimLink::dropPending(const std::string& rpn) {
    mobiFlight_.dropPending(rpn);
}

bool ClientSimLink::connected() const {
    return simConnect_.isConnected();
}

bool ClientSimLink::transmitEvent(const std::string& name, std::string& error) {
    return simConnect_.transmitEvent(name, error);
}
