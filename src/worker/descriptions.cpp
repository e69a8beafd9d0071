#include "worker/error_codes.h"
#include "worker/field_checks.h"
#include "worker/protocol_error.h"
#include "worker/session.h"

namespace native_worker {
namespace {

constexpr auto operationTimeLimit = std::chrono::seconds(10);

}  // namespace

void Session::createDescription(bool offer, const nlohmann::json& message) {
    requireOnlyFields(message, {});
    if (pending_) throw ProtocolError(codes::operationInProgress);
    const bool allowed = offer ? role_ == "host" : role_ == "controller" && remoteDescriptionApplied_;
    if (!allowed) throw ProtocolError(codes::invalidState);

    SharedPromise<Completion> promise;
    pending_ = std::make_unique<PendingOperation>();
    pending_->requestId = currentRequestId_;
    pending_->descriptionType = offer ? "offer" : "answer";
    pending_->kind = OperationKind::create;
    pending_->deadline = clock_.now() + operationTimeLimit;
    pending_->completion = promise.future();
    auto onSuccess = [promise](std::string sdp, std::string) { promise.complete({true, std::move(sdp)}); };
    auto onFailure = [promise](std::string) { promise.complete({false, {}}); };
    if (offer) peer_.connection()->createOffer(std::move(onSuccess), std::move(onFailure), constraints_);
    else peer_.connection()->createAnswer(std::move(onSuccess), std::move(onFailure), constraints_);
}

void Session::setRemoteDescription(const nlohmann::json& message) {
    requireOnlyFields(message, {"descriptionType", "sdp"});
    std::string descriptionType = requireString(message, "descriptionType", 6, Empty::refused);
    const char* const accepted = role_ == "host" ? "answer" : "offer";
    if (descriptionType != accepted) throw ProtocolError(codes::invalidState);
    std::string sdp = requireString(message, "sdp", maximumSdpBytes, Empty::refused);
    if (pending_) throw ProtocolError(codes::operationInProgress);

    pending_ = std::make_unique<PendingOperation>();
    pending_->requestId = currentRequestId_;
    pending_->descriptionType = std::move(descriptionType);
    pending_->deadline = clock_.now() + operationTimeLimit;
    applyDescription(sdp, true);
}

void Session::applyDescription(const std::string& sdp, bool remote) {
    SharedPromise<Completion> promise;
    pending_->completion = promise.future();
    pending_->kind = remote ? OperationKind::setRemote : OperationKind::setLocal;
    pending_->sdp = sdp;
    auto onSuccess = [promise] { promise.complete({true, {}}); };
    auto onFailure = [promise](std::string) { promise.complete({false, {}}); };
    auto& connection = *peer_.connection();
    if (remote)
        connection.setRemoteDescription(sdp, pending_->descriptionType, std::move(onSuccess), std::move(onFailure));
    else
        connection.setLocalDescription(sdp, pending_->descriptionType, std::move(onSuccess), std::move(onFailure));
}

void Session::completeOperation(Completion completion) {
    switch (pending_->kind) {
    case OperationKind::initialize:
        if (!completion.ok) throw ProtocolError(codes::nativeInitializeFailed);
        pending_.reset();
        constructPeer();
        return;
    case OperationKind::create:
        if (!completion.ok || completion.sdp.empty() || completion.sdp.size() > maximumSdpBytes)
            throw ProtocolError(codes::descriptionFailed);
        applyDescription(completion.sdp, false);
        return;
    case OperationKind::setLocal: {
        if (!completion.ok) throw ProtocolError(codes::descriptionFailed);
        const auto finished = std::move(pending_);
        outbox_.sendEvent("peer.description", finished->requestId,
                          {{"descriptionType", finished->descriptionType}, {"sdp", finished->sdp}});
        return;
    }
    case OperationKind::setRemote: {
        if (!completion.ok) throw ProtocolError(codes::descriptionFailed);
        const auto finished = std::move(pending_);
        remoteDescriptionApplied_ = true;
        outbox_.sendEvent("peer.descriptionApplied", finished->requestId,
                          {{"descriptionType", finished->descriptionType}});
        releaseQueuedCandidates();
        return;
    }
    }
}

}  // namespace native_worker
