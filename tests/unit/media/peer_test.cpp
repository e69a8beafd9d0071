#include "media/peer.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace native_worker {
namespace {

class RecordingChannel final : public engine::DataChannel {
public:
    explicit RecordingChannel(std::string name) : name_(std::move(name)) {}
    void registerObserver(engine::DataChannelObserver* observer) override { observer_ = observer; }
    void unregisterObserver() override { observer_ = nullptr; }
    void send(std::string_view data, bool) override { sent.emplace_back(data); }
    void close() override { closed = true; }
    std::string label() const override { return name_; }

    engine::DataChannelObserver* observer_ = nullptr;
    std::vector<std::string> sent;
    bool closed = false;

private:
    std::string name_;
};

class Candidate final : public engine::IceCandidate {
public:
    explicit Candidate(int n) : n_(n) {}
    // Appended, not "m" + to_string(): GCC 12 at -O3 warns falsely (-Wrestrict) on that.
    std::string sdpMid() const override { return std::string("m").append(std::to_string(n_)); }
    std::int32_t sdpMLineIndex() const override { return n_; }
    std::string candidate() const override { return std::string("candidate:").append(std::to_string(n_)); }

private:
    int n_;
};

class Track final : public engine::VideoTrack {
public:
    void addRenderer(engine::VideoRenderer* renderer) override { renderers.push_back(renderer); }
    void removeRenderer(engine::VideoRenderer* renderer) override { std::erase(renderers, renderer); }
    std::vector<engine::VideoRenderer*> renderers;
};

class Transceiver final : public engine::RtpTransceiver {
public:
    Transceiver(engine::MediaKind kind, std::shared_ptr<Track> track) : kind_(kind), track_(std::move(track)) {}
    engine::MediaKind mediaKind() const override { return kind_; }
    std::shared_ptr<engine::RtpReceiver> receiver() override {
        struct Receiver final : engine::RtpReceiver {
            explicit Receiver(std::shared_ptr<Track> received) : track(std::move(received)) {}
            std::shared_ptr<engine::VideoTrack> videoTrack() override { return track; }
            std::shared_ptr<Track> track;
        };
        return std::make_shared<Receiver>(track_);
    }
    void setCodecPreferences(const std::vector<engine::RtpCodecCapability>&) override {}

private:
    engine::MediaKind kind_;
    std::shared_ptr<Track> track_;
};

TEST(PeerCandidates, At128QueuedTheRestAreCountedButDropped) {
    FrameCounter counter;
    Peer peer(&counter, "");
    for (int n = 0; n < 129; ++n) peer.onIceCandidate(std::make_shared<Candidate>(n));
    EXPECT_EQ(peer.candidateCount(), 129);
    const auto taken = peer.takeCandidates();
    ASSERT_EQ(taken.size(), 128u);
    EXPECT_EQ(taken[5].sdpMid, "m5");
    EXPECT_EQ(taken[5].sdpMLineIndex, 5);
    EXPECT_EQ(taken[5].candidate, "candidate:5");
    peer.onIceCandidate(std::make_shared<Candidate>(200));
    EXPECT_EQ(peer.takeCandidates().size(), 1u);
}

TEST(PeerTracks, OnlyVideoTracksGetTheRenderer) {
    FrameCounter counter;
    Peer peer(&counter, "");
    auto audio = std::make_shared<Track>();
    auto video = std::make_shared<Track>();
    peer.onTrack(std::make_shared<Transceiver>(engine::MediaKind::audio, audio));
    peer.onTrack(std::make_shared<Transceiver>(engine::MediaKind::video, video));
    EXPECT_TRUE(audio->renderers.empty());
    ASSERT_EQ(video->renderers.size(), 1u);
    EXPECT_EQ(video->renderers[0], &counter);
}

TEST(PeerChannels, RemoteChannelsKeepTheirLabelAndReachTheCallbacks) {
    FrameCounter counter;
    Peer peer(&counter, "");
    std::vector<std::string> seen;
    peer.setOnChannelMessage([&](std::string_view label, std::string_view data, bool binary) {
        seen.push_back(std::string(label) + ":" + std::string(data) + (binary ? ":bin" : ""));
    });
    peer.setOnChannelState(
        [&](std::string_view label, bool open) { seen.push_back(std::string(label) + (open ? ":open" : ":shut")); });
    auto channel = std::make_shared<RecordingChannel>("chosen-by-remote");
    peer.onDataChannel(channel);
    ASSERT_NE(channel->observer_, nullptr);
    channel->observer_->onStateChange(engine::dataChannelOpen);
    channel->observer_->onMessage("hi", 2, true);
    channel->observer_->onStateChange(3);
    EXPECT_EQ(seen,
              (std::vector<std::string>{"chosen-by-remote:open", "chosen-by-remote:hi:bin", "chosen-by-remote:shut"}));
    EXPECT_THROW(peer.attachChannel(nullptr), std::runtime_error);
}

TEST(PeerChannels, CallbackExceptionsNeverReachTheEngine) {
    FrameCounter counter;
    Peer peer(&counter, "");
    peer.setOnChannelMessage([](std::string_view, std::string_view, bool) { throw std::runtime_error("x"); });
    peer.setOnConnectionState([](engine::PeerConnectionState) { throw 1; });
    auto channel = std::make_shared<RecordingChannel>("control");
    peer.attachChannel(channel);
    EXPECT_NO_THROW(channel->observer_->onMessage("x", 1, false));
    EXPECT_NO_THROW(peer.onConnectionState(engine::stateFailed));
}

TEST(PeerGreetings, CountedPerLabelOnlyForMatchingText) {
    FrameCounter counter;
    Peer peer(&counter, "host");
    auto control = std::make_shared<RecordingChannel>("control");
    auto motion = std::make_shared<RecordingChannel>("motion");
    peer.attachChannel(control);
    peer.attachChannel(motion);
    control->observer_->onMessage("host", 4, true);  // binary: not a greeting
    control->observer_->onMessage("hos", 3, false);
    EXPECT_EQ(peer.countGreetings("control"), 0);
    control->observer_->onMessage("host", 4, false);  // marks the channel open too
    EXPECT_EQ(peer.countGreetings("control"), 1);
    EXPECT_EQ(peer.countGreetings("motion"), 0);
    auto channels = peer.channelsLabelled("control");
    ASSERT_EQ(channels.size(), 1u);
    EXPECT_TRUE(channels[0]->isOpen());
    channels[0]->sendGreetingOnce("controller");
    channels[0]->sendGreetingOnce("controller");
    EXPECT_EQ(control->sent, std::vector<std::string>{"controller"});
}

TEST(PeerChannels, SendTextOnlyWhenOpen) {
    FrameCounter counter;
    Peer peer(&counter, "");
    auto control = std::make_shared<RecordingChannel>("control");
    peer.attachChannel(control);
    Channel* channel = peer.channelsLabelled("control").at(0);
    EXPECT_FALSE(channel->sendText("early"));
    control->observer_->onStateChange(engine::dataChannelOpen);
    EXPECT_TRUE(channel->sendText("later"));
    EXPECT_EQ(control->sent, std::vector<std::string>{"later"});
}

TEST(PeerClose, WithoutConnectionDoesNothing) {
    FrameCounter counter;
    Peer peer(&counter, "");
    auto control = std::make_shared<RecordingChannel>("control");
    peer.attachChannel(control);
    peer.closePeer(nullptr);
    EXPECT_FALSE(control->closed);
    EXPECT_EQ(peer.allChannels().size(), 1u);
}

}  // namespace
}  // namespace native_worker
