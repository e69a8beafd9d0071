#pragma once

#include "media/channel.h"
#include "media/engine.h"
#include "media/frame_counter.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace native_worker {

struct LocalCandidate {
    std::string sdpMid;
    std::int32_t sdpMLineIndex = 0;
    std::string candidate;
};

// Observes one peer connection: queues local candidates, wraps every data
// channel, renders every remote video track, forwards connection states.
class Peer final : public engine::PeerConnectionObserver {
public:
    static constexpr std::size_t localCandidateBound = 128;

    using ChannelMessageCallback = std::function<void(std::string_view label, std::string_view data, bool binary)>;
    using ChannelStateCallback = std::function<void(std::string_view label, bool open)>;
    using ConnectionStateCallback = std::function<void(engine::PeerConnectionState state)>;

    Peer(FrameCounter* renderer, std::string expectedGreeting);
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    void setOnChannelMessage(ChannelMessageCallback callback) { onChannelMessage_ = std::move(callback); }
    void setOnChannelState(ChannelStateCallback callback) { onChannelState_ = std::move(callback); }
    void setOnConnectionState(ConnectionStateCallback callback) { onConnectionState_ = std::move(callback); }

    // Set once the engine created the connection; the Peer registers as its observer.
    void attachConnection(std::shared_ptr<engine::PeerConnection> connection);
    engine::PeerConnection* connection() const { return peerConnection_.get(); }

    void onConnectionState(engine::PeerConnectionState state) override;
    void onIceCandidate(const std::shared_ptr<engine::IceCandidate>& candidate) override;
    void onDataChannel(const std::shared_ptr<engine::DataChannel>& channel) override;
    void onTrack(const std::shared_ptr<engine::RtpTransceiver>& transceiver) override;

    std::vector<LocalCandidate> takeCandidates();
    std::int32_t candidateCount() const { return candidateCount_.load(); }

    // Wraps a data channel; throws std::runtime_error(dataChannelNotCreated) for null.
    void attachChannel(const std::shared_ptr<engine::DataChannel>& dataChannel);
    std::int32_t countGreetings(std::string_view label);
    // The channels with this label (all of them for an empty optional), copied
    // out under the lock so that sending happens without it.
    std::vector<Channel*> channelsLabelled(std::string_view label);
    std::vector<Channel*> allChannels();

    // Closes the connection and releases everything attached to it.
    void closePeer(engine::PeerConnectionFactory* factory);

private:
    struct LabelledChannel {
        std::string label;
        std::unique_ptr<Channel> channel;
    };

    std::shared_ptr<engine::PeerConnection> peerConnection_;
    FrameCounter* const renderer_;
    std::mutex mutex_;
    std::vector<LocalCandidate> localCandidates_;
    std::atomic<std::int32_t> candidateCount_{0};
    std::vector<LabelledChannel> channels_;
    std::vector<std::shared_ptr<engine::VideoTrack>> remoteVideoTracks_;
    ChannelMessageCallback onChannelMessage_;
    ChannelStateCallback onChannelState_;
    ConnectionStateCallback onConnectionState_;
    const std::string expectedGreeting_;
};

}  // namespace native_worker
