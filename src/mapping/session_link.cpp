#include "mapping/session_link.h"

#include "sim/mobiflight_session.h"
#include "sim/simconnect_client.h"

static_assert(static_cast<int>(SimLink::kPlain) == MobiFlightSession::kPlain &&
                  static_cast<int>(SimLink::kHold) == MobiFlightSession::kHold &&
                  static_cast<int>(SimLink::kEncoder) == MobiFlightSession::kEncoder,
              "send kinds pass through unchanged");

bool SessionLink::ready() const {
    return session_.ready();
}

bool SessionLink::queueCommand(const std::string& rpn, Kind kind, std::int32_t amount,
                               std::string& error) {
    return session_.send(rpn, static_cast<MobiFlightSession::Kind>(kind), amount, error);
}

bool SessionLink::sendNow(const std::string& rpn, std::string& error) {
    return session_.sendNow(rpn, error, clock_.now());
}

void SessionLink::dropPending(const std::string& rpn) {
    session_.dropPending(rpn);
}

bool SessionLink::connected() const {
    return simConnect_.isConnected();
}

bool SessionLink::transmitEvent(const std::string& name, std::string& error) {
    return simConnect_.transmitEvent(name, error);
}

void SessionLink::onLinkChange(bool connected, Clock::TimePoint now) {
    session_.onLinkChange(connected, now);
}

void SessionLink::onClientData(std::uint32_t requestId, const std::vector<std::uint8_t>& bytes,
                               Clock::TimePoint now) {
    session_.onClientData(requestId, bytes, now);
}

Clock::TimePoint SessionLink::tick(Clock::TimePoint now) {
    return session_.tick(now);
}
