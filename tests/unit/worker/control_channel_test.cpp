#include "worker/control_channel.h"
#include "input/control_messages.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace native_worker {
namespace {

class FakeChannel final : public engine::DataChannel {
public:
    explicit FakeChannel(std::string label) : label_(std::move(label)) {}
    void registerObserver(engine::DataChannelObserver* observer) override { observer_ = observer; }
    void unregisterObserver() override { observer_ = nullptr; }
    void send(std::string_view data, bool binary) override {
        EXPECT_FALSE(binary);
        sent.emplace_back(data);
    }
    void close() override {}
    std::string label() const override { return label_; }

    void open() { observer_->onStateChange(engine::dataChannelOpen); }

    std::vector<std::string> sent;

private:
    std::string label_;
    engine::DataChannelObserver* observer_ = nullptr;
};

class ControlChannel : public ::testing::Test {
protected:
    std::shared_ptr<FakeChannel> attach(const char* label) {
        auto channel = std::make_shared<FakeChannel>(label);
        peer.attachChannel(channel);
        return channel;
    }

    FrameCounter counter;
    Peer peer{&counter, ""};
};

TEST_F(ControlChannel, SendsOnEveryOpenChannelWithTheLabel) {
    const auto first = attach("control");
    const auto closed = attach("control");
    const auto motion = attach("motion");
    EXPECT_FALSE(sendOnChannel(peer, "control", "x"));
    first->open();
    motion->open();
    EXPECT_TRUE(sendOnChannel(peer, "control", "hello"));
    EXPECT_EQ(first->sent, std::vector<std::string>{"hello"});
    EXPECT_TRUE(closed->sent.empty());
    EXPECT_TRUE(motion->sent.empty());
    EXPECT_FALSE(sendOnChannel(peer, "controls", "x"));
}

TEST_F(ControlChannel, AnnouncesTheDisplaysOnceKnown) {
    const auto control = attach("control");
    control->open();
    const nlohmann::json displays = nlohmann::json::parse(
        R"([{"id":"1","frameX":0,"frameY":0,"frameWidth":1920,"frameHeight":1080,"pixelWidth":1920,)"
        R"("pixelHeight":1080,"isMain":true}])");
    DisplayAnnouncement notYet;
    notYet.sendOn(peer);
    DisplayAnnouncement noDisplays;
    noDisplays.prepare(nlohmann::json::array(), "1");
    noDisplays.sendOn(peer);
    DisplayAnnouncement noActive;
    noActive.prepare(displays, "");
    noActive.sendOn(peer);
    DisplayAnnouncement notUtf8;
    notUtf8.prepare(nlohmann::json::array({{{"id", "\xFF"}}}), "\xFF");
    notUtf8.sendOn(peer);
    EXPECT_TRUE(control->sent.empty());
    DisplayAnnouncement announcement;
    announcement.prepare(displays, "1");
    announcement.sendOn(peer);
    EXPECT_EQ(control->sent,
              std::vector<std::string>{
                  R"({"activeId":"1","displays":[{"frameHeight":1080,"frameWidth":1920,"frameX":0,"frameY":0,)"
                  R"("id":"1","isMain":true,"pixelHeight":1080,"pixelWidth":1920}],)"
                  R"("protocolVersion":{"major":1,"minor":0},"type":"displayList"})"});
}

TEST(ControlMessages, AreCompactWithMembersInKeyOrder) {
    EXPECT_EQ(controlReadyMessage(7),
              R"({"inputEpoch":7,"protocolVersion":{"major":1,"minor":0},"type":"controlReady"})");
    EXPECT_EQ(controlUnavailableMessage(9007199254740991u, "peer_lost"),
              R"({"inputEpoch":9007199254740991,"protocolVersion":{"major":1,"minor":0},"reason":"peer_lost",)"
              R"("type":"controlUnavailable"})");
}

}  // namespace
}  // namespace native_worker
