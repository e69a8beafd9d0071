#include "worker/session.h"

#include "base/error_codes.h"
#include "base/field_checks.h"
#include "base/protocol_error.h"

namespace native_worker {

Session::Session(transport::HostWriter& writer, WorkerServices services, const Clock& clock)
    : outbox_(writer),
      displayServices_(services.displays),
      clock_(clock),
      peer_(&decodedCounter_, ""),
      negotiation_(outbox_, clock, services.engine, currentRequestId_),
      input_(outbox_, services.displays, services.input, services.sink, events_),
      nextMediaTime_(clock.now()),
      engineSession_(services.engine) {}

void Session::checkEnvelope(const nlohmann::json& message) {
    currentRequestId_.clear();
    const auto version = message.find("version");
    if (version == message.end() || !(version->is_number_integer() || version->is_number_unsigned()))
        throw ProtocolError(codes::invalidMessage);
    const bool one =
        version->is_number_unsigned() ? version->get<std::uint64_t>() == 1 : version->get<std::int64_t>() == 1;
    if (!one) throw ProtocolError(codes::unsupportedVersion);
    const Identity identity = parseIdentity(message);
    if (outbox_.bound() && identity != outbox_.identity()) throw ProtocolError(codes::identityMismatch);
    std::string requestId = requireString(message, "requestId", 64, Empty::refused);
    if (!isRequestIdText(requestId)) throw ProtocolError(codes::invalidMessage);
    currentRequestId_ = requestId;
    if (seenRequestIds_.size() >= requestIdBound || !seenRequestIds_.insert(std::move(requestId)).second)
        throw ProtocolError(codes::invalidMessage);
    requireString(message, "type", 64, Empty::refused);
}

bool Session::dispatch(const nlohmann::json& message) {
    checkEnvelope(message);
    const auto& type = message["type"].get_ref<const std::string&>();
    if (!outbox_.bound()) {
        if (type != "peer.create") throw ProtocolError(codes::invalidMessage);
        createPeer(message, parseIdentity(message));
        return false;
    }
    if (type == "peer.close") {
        requireOnlyFields(message, {});
        return true;
    }
    if (!ready_) throw ProtocolError(codes::operationInProgress);
    dispatchReady(type, message);
    return false;
}

void Session::dispatchReady(const std::string& type, const nlohmann::json& message) {
    if (type == "peer.offer") return negotiation_.createDescription(true, message);
    if (type == "peer.answer") return negotiation_.createDescription(false, message);
    if (type == "peer.setDescription") return negotiation_.setRemoteDescription(message);
    if (type == "peer.addCandidate") return negotiation_.addRemoteCandidate(message);
    if (type == "peer.inputGate")
        return input_.handleGateCommand(message, role_ == Role::host, engineSession_.capturing(), currentRequestId_);
    throw ProtocolError(codes::invalidMessage);
}

void Session::reportFatalError(const char* code) {
    outbox_.sendFatalError(code, currentRequestId_);
}

// Input is released before the capture stops; the remote control goes only
// once the peer is closed, since until then its callbacks may still reach it.
void Session::close(const nlohmann::json& requestId) {
    closing_ = true;
    negotiation_.clear();
    input_.shutdown();
    engineSession_.close();
    input_.release();
    outbox_.sendEvent("peer.closed", requestId);
}

}  // namespace native_worker
