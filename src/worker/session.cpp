#include "worker/session.h"

#include "platform/sockets.h"
#include "worker/error_codes.h"
#include "worker/field_checks.h"
#include "worker/protocol_error.h"

namespace native_worker {

Session::Session(transport::HostWriter& writer, SessionServices services)
    : outbox_(writer),
      engine_(services.engine),
      displayServices_(services.displays),
      inputServices_(services.input),
      sink_(services.sink),
      clock_(services.clock),
      peer_(&decodedCounter_, ""),
      nextMediaTime_(services.clock.now()) {}

void Session::checkEnvelope(const nlohmann::json& message) {
    currentRequestId_.clear();
    const auto version = message.find("version");
    if (version == message.end() || !(version->is_number_integer() || version->is_number_unsigned()))
        throw ProtocolError(codes::invalidMessage);
    const bool one = version->is_number_unsigned() ? version->get<std::uint64_t>() == 1
                                                   : version->get<std::int64_t>() == 1;
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
    if (type == "peer.offer") return createDescription(true, message);
    if (type == "peer.answer") return createDescription(false, message);
    if (type == "peer.setDescription") return setRemoteDescription(message);
    if (type == "peer.addCandidate") return addRemoteCandidate(message);
    if (type == "peer.inputGate") return handleInputGate(message);
    throw ProtocolError(codes::invalidMessage);
}

void Session::reportFatalError(const char* code) {
    outbox_.sendFatalError(code, currentRequestId_);
}

void Session::close(const nlohmann::json& requestId) {
    closing_ = true;
    pending_.reset();
    remoteCandidates_.clear();
    if (remoteControl_) remoteControl_->shutdown();
    if (capturer_) {
        capturer_->unregisterObserver();
        capturer_->stop();
    }
    if (videoTrack_) videoTrack_->removeRenderer(&capturedCounter_);
    peer_.closePeer(factory_.get());
    publishedControl_.store(nullptr);
    remoteControl_.reset();
    videoTrack_.reset();
    videoSource_.reset();
    capturer_.reset();
    constraints_.reset();
    if (factoryInitialized_) {
        factory_->terminate();
        factoryInitialized_ = false;
    }
    factory_.reset();
    if (engineInitialized_) {
        engine_.terminate();
        engineInitialized_ = false;
    }
    if (socketsStarted_) {
        platform::stopSockets();
        socketsStarted_ = false;
    }
    outbox_.sendEvent("peer.closed", requestId);
}

void Session::onCaptureStarted() {
    captureHealthy_.store(true);
}

void Session::onCapturePaused() {
    revokeInputForCapture();
}

void Session::onCaptureStopped() {
    revokeInputForCapture();
}

void Session::onCaptureFailed() {
    revokeInputForCapture();
}

}  // namespace native_worker
