#include "worker/error_codes.h"
#include "worker/field_checks.h"
#include "worker/protocol_error.h"
#include "worker/session.h"

namespace native_worker {

void Session::addRemoteCandidate(const nlohmann::json& message) {
    requireOnlyFields(message, {"candidate", "sdpMid", "sdpMLineIndex"});
    RemoteCandidate entry;
    entry.sdpMid = requireString(message, "sdpMid", 256, Empty::allowed);
    entry.sdpMLineIndex = requireInteger(message, "sdpMLineIndex", 0, 65535);
    entry.candidate = requireString(message, "candidate", 16384, Empty::refused);
    if (!engine_.createIceCandidate(entry.candidate, entry.sdpMid, entry.sdpMLineIndex))
        throw ProtocolError(codes::invalidCandidate);
    if (remoteDescriptionApplied_) {
        peer_.connection()->addCandidate(entry.sdpMid, entry.sdpMLineIndex, entry.candidate);
        outbox_.sendEvent("peer.candidateSubmitted", currentRequestId_);
        return;
    }
    if (remoteCandidates_.size() >= remoteCandidateBound) throw ProtocolError(codes::candidateQueueFull);
    remoteCandidates_.push_back(std::move(entry));
    outbox_.sendEvent("peer.candidateQueued", currentRequestId_);
}

void Session::releaseQueuedCandidates() {
    for (const auto& entry : remoteCandidates_)
        peer_.connection()->addCandidate(entry.sdpMid, entry.sdpMLineIndex, entry.candidate);
    remoteCandidates_.clear();
}

void Session::sendLocalCandidates() {
    for (auto& local : peer_.takeCandidates())
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

}  // namespace native_worker
