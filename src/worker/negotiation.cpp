#include "worker/negotiation.h"

#include "base/error_codes.h"
#include "base/field_checks.h"
#include "base/protocol_error.h"

namespace native_worker {

void Negotiation::attach(Role role, engine::PeerConnection& connection,
                         std::shared_ptr<engine::MediaConstraints> constraints) {
    role_ = role;
    connection_ = &connection;
    constraints_ = std::move(constraints);
}

void Negotiation::begin(OperationKind kind, std::string descriptionType) {
    pending_ = std::make_unique<PendingOperation>();
    pending_->requestId = currentRequestId_;
    pending_->descriptionType = std::move(descriptionType);
    pending_->kind = kind;
    pending_->deadline = clock_.now() + operationTimeLimit;
}

void Negotiation::probe() {
    begin(OperationKind::initialize, {});
    SharedPromise<Completion> promise;
    pending_->completion = promise.future();
    connection_->createOffer(
        [promise](std::string, std::string) {
            promise.complete({true, {}});
        },
        [promise](std::string) {
            promise.complete({false, {}});
        },
        constraints_);
}

void Negotiation::createDescription(bool offer, const nlohmann::json& message) {
    requireOnlyFields(message, {});
    if (pending_) throw ProtocolError(codes::operationInProgress);
    const bool allowed = offer ? role_ == Role::host : role_ == Role::controller && remoteDescriptionApplied_;
    if (!allowed) throw ProtocolError(codes::invalidState);

    begin(OperationKind::create, offer ? "offer" : "answer");
    SharedPromise<Completion> promise;
    pending_->completion = promise.future();
    auto onSuccess = [promise](std::string sdp, std::string) { promise.complete({true, std::move(sdp)}); };
    auto onFailure = [promise](std::string) { promise.complete({false, {}}); };
    if (offer)
        connection_->createOffer(std::move(onSuccess), std::move(onFailure), constraints_);
    else
        connection_->createAnswer(std::move(onSuccess), std::move(onFailure), constraints_);
}

void Negotiation::setRemoteDescription(const nlohmann::json& message) {
    requireOnlyFields(message, {"descriptionType", "sdp"});
    std::string descriptionType = requireString(message, "descriptionType", 6, Empty::refused);
    const char* const accepted = role_ == Role::host ? "answer" : "offer";
    if (descriptionType != accepted) throw ProtocolError(codes::invalidState);
    std::string sdp = requireString(message, "sdp", maximumSdpBytes, Empty::refused);
    if (pending_) throw ProtocolError(codes::operationInProgress);

    begin(OperationKind::setRemote, std::move(descriptionType));
    applyDescription(sdp, true);
}

void Negotiation::applyDescription(const std::string& sdp, bool remote) {
    SharedPromise<Completion> promise;
    pending_->completion = promise.future();
    pending_->kind = remote ? OperationKind::setRemote : OperationKind::setLocal;
    pending_->sdp = sdp;
    auto onSuccess = [promise] { promise.complete({true, {}}); };
    auto onFailure = [promise](std::string) { promise.complete({false, {}}); };
    if (remote)
        connection_->setRemoteDescription(sdp, pending_->descriptionType, std::move(onSuccess), std::move(onFailure));
    else
        connection_->setLocalDescription(sdp, pending_->descriptionType, std::move(onSuccess), std::move(onFailure));
}

bool Negotiation::poll() {
    if (!pending_) return false;
    if (clock_.now() >= pending_->deadline) {
        currentRequestId_ = pending_->requestId;
        throw ProtocolError(codes::operationTimeout);
    }
    if (!isReady(pending_->completion)) return false;
    Completion completion = pending_->completion.get();
    currentRequestId_ = pending_->requestId;
    return complete(std::move(completion));
}

bool Negotiation::complete(Completion completion) {
    switch (pending_->kind) {
        case OperationKind::initialize:
            if (!completion.ok) throw ProtocolError(codes::nativeInitializeFailed);
            pending_.reset();
            return true;
        case OperationKind::create:
            if (!completion.ok || completion.sdp.empty() || completion.sdp.size() > maximumSdpBytes)
                throw ProtocolError(codes::descriptionFailed);
            applyDescription(completion.sdp, false);
            return false;
        case OperationKind::setLocal: {
            if (!completion.ok) throw ProtocolError(codes::descriptionFailed);
            const auto finished = std::move(pending_);
            outbox_.sendEvent("peer.description", finished->requestId,
                              {{"descriptionType", finished->descriptionType}, {"sdp", finished->sdp}});
            return false;
        }
        case OperationKind::setRemote: {
            if (!completion.ok) throw ProtocolError(codes::descriptionFailed);
            const auto finished = std::move(pending_);
            remoteDescriptionApplied_ = true;
            outbox_.sendEvent("peer.descriptionApplied", finished->requestId,
                              {{"descriptionType", finished->descriptionType}});
            releaseQueuedCandidates();
            return false;
        }
    }
    return false;
}

void Negotiation::addRemoteCandidate(const nlohmann::json& message) {
    requireOnlyFields(message, {"candidate", "sdpMid", "sdpMLineIndex"});
    RemoteCandidate entry;
    entry.sdpMid = requireString(message, "sdpMid", 256, Empty::allowed);
    entry.sdpMLineIndex = requireInteger(message, "sdpMLineIndex", 0, 65535);
    entry.candidate = requireString(message, "candidate", 16384, Empty::refused);
    if (!engine_.createIceCandidate(entry.candidate, entry.sdpMid, entry.sdpMLineIndex))
        throw ProtocolError(codes::invalidCandidate);
    if (remoteDescriptionApplied_) {
        connection_->addCandidate(entry.sdpMid, entry.sdpMLineIndex, entry.candidate);
        outbox_.sendEvent("peer.candidateSubmitted", currentRequestId_);
        return;
    }
    if (remoteCandidates_.size() >= remoteCandidateBound) throw ProtocolError(codes::candidateQueueFull);
    remoteCandidates_.push_back(std::move(entry));
    outbox_.sendEvent("peer.candidateQueued", currentRequestId_);
}

void Negotiation::releaseQueuedCandidates() {
    for (const auto& entry : remoteCandidates_)
        connection_->addCandidate(entry.sdpMid, entry.sdpMLineIndex, entry.candidate);
    remoteCandidates_.clear();
}

void Negotiation::sendLocalCandidates(Peer& peer) {
    for (auto& local : peer.takeCandidates())
        if (outgoingCandidates_.size() < Peer::localCandidateBound) outgoingCandidates_.push_back(std::move(local));
    for (std::size_t sent = 0; sent < candidateEventsPerPass && !outgoingCandidates_.empty(); ++sent) {
        LocalCandidate& local = outgoingCandidates_.front();
        outbox_.sendEvent("peer.candidate", nullptr,
                          {{"candidate", std::move(local.candidate)},
                           {"sdpMid", std::move(local.sdpMid)},
                           {"sdpMLineIndex", local.sdpMLineIndex}});
        outgoingCandidates_.pop_front();
    }
}

void Negotiation::clear() {
    pending_.reset();
    remoteCandidates_.clear();
}

}  // namespace native_worker
