#include "media/peer.h"

#include "base/error_codes.h"

#include <stdexcept>
#include <utility>

namespace native_worker {

Peer::Peer(FrameCounter* renderer, std::string expectedGreeting)
    : renderer_(renderer), expectedGreeting_(std::move(expectedGreeting)) {}

void Peer::attachConnection(std::shared_ptr<engine::PeerConnection> connection) {
    peerConnection_ = std::move(connection);
    peerConnection_->registerObserver(this);
}

void Peer::onConnectionState(engine::PeerConnectionState state) {
    if (!onConnectionState_) return;
    try {
        onConnectionState_(state);
    } catch (...) {
        // The engine must never see a callback's failure.
    }
}

void Peer::onIceCandidate(const std::shared_ptr<engine::IceCandidate>& candidate) {
    candidateCount_.fetch_add(1);
    if (!candidate) return;
    std::lock_guard lock(mutex_);
    if (localCandidates_.size() >= localCandidateBound) return;
    localCandidates_.push_back({candidate->sdpMid(), candidate->sdpMLineIndex(), candidate->candidate()});
}

void Peer::onDataChannel(const std::shared_ptr<engine::DataChannel>& channel) {
    try {
        attachChannel(channel);
    } catch (...) {
        // A channel the engine could not give us is simply not observed.
    }
}

void Peer::onTrack(const std::shared_ptr<engine::RtpTransceiver>& transceiver) {
    if (!transceiver || transceiver->mediaKind() != engine::MediaKind::video) return;
    const auto receiver = transceiver->receiver();
    auto track = receiver ? receiver->videoTrack() : nullptr;
    if (!track) return;
    track->addRenderer(renderer_);
    std::lock_guard lock(mutex_);
    remoteVideoTracks_.push_back(std::move(track));
}

std::vector<LocalCandidate> Peer::takeCandidates() {
    std::lock_guard lock(mutex_);
    return std::exchange(localCandidates_, {});
}

void Peer::attachChannel(const std::shared_ptr<engine::DataChannel>& dataChannel) {
    if (!dataChannel) throw std::runtime_error(dataChannelNotCreated);
    std::string label = dataChannel->label();
    auto onMessage = [this, label](std::string_view data, bool binary) {
        if (onChannelMessage_) onChannelMessage_(label, data, binary);
    };
    auto onState = [this, label](bool open) {
        if (onChannelState_) onChannelState_(label, open);
    };
    auto channel = std::make_unique<Channel>(dataChannel, expectedGreeting_, std::move(onMessage), std::move(onState));
    std::lock_guard lock(mutex_);
    channels_.push_back({std::move(label), std::move(channel)});
}

std::int32_t Peer::countGreetings(std::string_view label) {
    std::lock_guard lock(mutex_);
    std::int32_t total = 0;
    for (const auto& entry : channels_)
        if (entry.label == label) total += entry.channel->greetingsReceived();
    return total;
}

std::vector<Channel*> Peer::channelsLabelled(std::string_view label) {
    std::lock_guard lock(mutex_);
    std::vector<Channel*> matching;
    for (const auto& entry : channels_)
        if (entry.label == label) matching.push_back(entry.channel.get());
    return matching;
}

std::vector<Channel*> Peer::allChannels() {
    std::lock_guard lock(mutex_);
    std::vector<Channel*> all;
    for (const auto& entry : channels_) all.push_back(entry.channel.get());
    return all;
}

void Peer::closePeer(engine::PeerConnectionFactory* factory) {
    if (!peerConnection_) return;
    peerConnection_->close();
    peerConnection_->unregisterObserver();
    // The connection is closed, so no engine thread appends any more; the lists
    // are moved out under the lock and released without it.
    std::vector<std::shared_ptr<engine::VideoTrack>> tracks;
    std::vector<LabelledChannel> channels;
    {
        std::lock_guard lock(mutex_);
        tracks.swap(remoteVideoTracks_);
        channels.swap(channels_);
    }
    for (const auto& track : tracks) track->removeRenderer(renderer_);
    for (auto& entry : channels) {
        entry.channel->dataChannel().unregisterObserver();
        entry.channel->dataChannel().close();
    }
    channels.clear();
    if (factory) factory->deletePeerConnection(peerConnection_);
    peerConnection_.reset();
}

}  // namespace native_worker
