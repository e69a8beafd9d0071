#pragma once

#include "base/clock.h"
#include "media/engine.h"
#include "media/peer.h"
#include "worker/outbox.h"
#include "worker/pending_operation.h"
#include "worker/role.h"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>

namespace native_worker {

// The offer/answer exchange of one peer: its single pending operation with a
// deadline, the remote candidates queued until a remote description is
// applied, and the local candidates on their way to the host application.
// Errors are thrown as ProtocolError after the request they belong to is made
// the current one.
class Negotiation {
public:
    static constexpr std::size_t remoteCandidateBound = 128;
    static constexpr std::size_t maximumSdpBytes = 1'048'576;
    // Candidate events per pump pass: a burst of gathered candidates must not
    // outrun the writer's queue of 64 lines and end the session.
    static constexpr std::size_t candidateEventsPerPass = 32;

    Negotiation(Outbox& outbox, const Clock& clock, engine::Engine& engine, std::string& currentRequestId)
        : outbox_(outbox), clock_(clock), engine_(engine), currentRequestId_(currentRequestId) {}

    void attach(Role role, engine::PeerConnection& connection, std::shared_ptr<engine::MediaConstraints> constraints);
    // peer.create's probe: whether the engine can create an offer at all.
    void probe();
    bool pending() const { return pending_ != nullptr; }

    // peer.offer and peer.answer
    void createDescription(bool offer, const nlohmann::json& message);
    // peer.setDescription
    void setRemoteDescription(const nlohmann::json& message);
    // peer.addCandidate
    void addRemoteCandidate(const nlohmann::json& message);

    // Completes the pending operation when its result is in; true once the
    // probe has succeeded. Throws when it failed or its deadline passed.
    bool poll();
    void sendLocalCandidates(Peer& peer);
    // Closing: no operation is awaited and no candidate applied any more.
    void clear();

private:
    struct RemoteCandidate {
        std::string sdpMid;
        std::int32_t sdpMLineIndex = 0;
        std::string candidate;
    };

    void begin(OperationKind kind, std::string descriptionType);
    void applyDescription(const std::string& sdp, bool remote);
    bool complete(Completion completion);
    void releaseQueuedCandidates();

    Outbox& outbox_;
    const Clock& clock_;
    engine::Engine& engine_;
    std::string& currentRequestId_;
    Role role_ = Role::controller;
    engine::PeerConnection* connection_ = nullptr;
    std::shared_ptr<engine::MediaConstraints> constraints_;
    std::unique_ptr<PendingOperation> pending_;
    bool remoteDescriptionApplied_ = false;
    std::deque<RemoteCandidate> remoteCandidates_;
    std::deque<LocalCandidate> outgoingCandidates_;
};

}  // namespace native_worker
