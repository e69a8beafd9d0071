// The real engine between two peer connections of this process.

#include "engine/gstreamer/data_channel.h"
#include "media/media_settings.h"
#include "media/stats.h"
#include "peer_pair.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

namespace native_worker::integration {
namespace {

bool contains(const std::vector<engine::PeerConnectionState>& states, engine::PeerConnectionState state) {
    return std::find(states.begin(), states.end(), state) != states.end();
}

Stats statistics(engine::PeerConnection& connection, bool host) {
    Outcome<Stats> outcome;
    connection.getStats([&](std::vector<engine::StatsReport> reports) { outcome.succeed(buildStats(reports, host)); },
                        [&](std::string) { outcome.fail(); });
    EXPECT_TRUE(outcome.wait(10s));
    return outcome.results.empty() ? Stats{} : outcome.results.front();
}

class EngineConnection : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(started.factory) << "the engine did not start"; }

    StartedEngine started;
};

engine::DataChannelInit settings(const std::shared_ptr<engine::DataChannel>& channel) {
    return std::dynamic_pointer_cast<engine::gstreamer::WebRtcDataChannel>(channel)->settings();
}

TEST_F(EngineConnection, ChannelsReachTheAnsweringSideWithTheirOptions) {
    PeerPair pair(started);
    engine::DataChannelInit unordered = motionChannelOptions();
    unordered.protocol = "input";
    engine::DataChannelInit timed = controlChannelOptions();
    timed.maxRetransmitTimeMs = 300;
    engine::DataChannelInit outOfBand;
    outOfBand.negotiated = true;
    outOfBand.id = 6;
    ASSERT_TRUE(pair.connect(timed, unordered, {{"side", outOfBand}}));
    ASSERT_TRUE(pair.controllerObserver.waitForChannels(2, 10s));

    std::map<std::string, engine::DataChannelInit> sent;
    std::map<std::string, engine::DataChannelInit> received;
    for (const auto& channel : pair.hostChannels) sent[channel->label()] = settings(channel);
    for (const auto& channel : pair.controllerObserver.channels()) received[channel->label()] = settings(channel);
    // Channels negotiated out of band are not announced.
    ASSERT_EQ(received.size(), 2U);
    for (const char* label : {"control", "motion"}) {
        SCOPED_TRACE(label);
        ASSERT_TRUE(received.contains(label));
        EXPECT_EQ(received[label].ordered, sent[label].ordered);
        EXPECT_EQ(received[label].maxRetransmits, sent[label].maxRetransmits);
        EXPECT_EQ(received[label].maxRetransmitTimeMs, sent[label].maxRetransmitTimeMs);
        EXPECT_EQ(received[label].protocol, sent[label].protocol);
        EXPECT_FALSE(received[label].negotiated);
        // In-band ids follow the DTLS role: the offerer, DTLS server here, uses odd ones.
        EXPECT_EQ(received[label].id, sent[label].id);
        EXPECT_EQ(received[label].id % 2, 1);
    }
    EXPECT_TRUE(received["control"].ordered);
    EXPECT_EQ(received["control"].maxRetransmitTimeMs, 300);
    EXPECT_EQ(received["control"].protocol, "sctp");
    EXPECT_FALSE(received["motion"].ordered);
    EXPECT_EQ(received["motion"].maxRetransmits, 0);
    EXPECT_EQ(received["motion"].protocol, "input");

    const engine::DataChannelInit side = settings(pair.controllerChannels.front());
    EXPECT_TRUE(side.negotiated);
    EXPECT_EQ(side.id, 6);
    EXPECT_EQ(settings(pair.hostChannels.back()).id, 6);
    RecordingChannel atController;
    pair.controllerChannels.front()->registerObserver(&atController);
    RecordingChannel atHost;
    pair.hostChannels.back()->registerObserver(&atHost);
    ASSERT_TRUE(atHost.waitForOpen(10s));
    pair.hostChannels.back()->send("out of band", false);
    ASSERT_TRUE(atController.waitForMessages(1, 10s));
    EXPECT_EQ(atController.messages().front().data, "out of band");
    pair.controllerChannels.front()->unregisterObserver();
    pair.hostChannels.back()->unregisterObserver();
}

TEST_F(EngineConnection, MessagesKeepTheirBytesAndBinaryFlagBothWays) {
    PeerPair pair(started);
    ASSERT_TRUE(pair.connect(controlChannelOptions(), motionChannelOptions()));
    // Announcements may come in either order.
    ASSERT_TRUE(pair.controllerObserver.waitForChannels(2, 10s));
    RecordingChannel atHost;
    RecordingChannel atController;
    pair.hostChannels[0]->registerObserver(&atHost);
    auto remote = pair.controllerObserver.channels()[0];
    if (remote->label() != "control") remote = pair.controllerObserver.channels()[1];
    remote->registerObserver(&atController);
    ASSERT_TRUE(atHost.waitForOpen(10s));
    ASSERT_TRUE(atController.waitForOpen(10s));

    const std::string binary("\x00\x01\xff", 3);
    pair.hostChannels[0]->send("{\"type\":\"key\"}", false);
    pair.hostChannels[0]->send(binary, true);
    remote->send("caf\xc3\xa9", false);
    ASSERT_TRUE(atController.waitForMessages(2, 10s));
    ASSERT_TRUE(atHost.waitForMessages(1, 10s));
    const auto received = atController.messages();
    EXPECT_EQ(received[0].data, "{\"type\":\"key\"}");
    EXPECT_FALSE(received[0].binary);
    EXPECT_EQ(received[1].data, binary);
    EXPECT_TRUE(received[1].binary);
    EXPECT_EQ(atHost.messages()[0].data, "caf\xc3\xa9");
    pair.hostChannels[0]->unregisterObserver();
    remote->unregisterObserver();
}

TEST_F(EngineConnection, VideoIsDecodedAndCountedInTheStatistics) {
    PeerPair pair(started);
    ASSERT_TRUE(pair.connect(controlChannelOptions(), motionChannelOptions()));
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (pair.hostObserver.decoded.frames() + pair.controllerObserver.decoded.frames() < 3 &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(20ms);
    EXPECT_GE(pair.controllerObserver.decoded.frames(), 3U);

    const Stats sent = statistics(*pair.host, true);
    EXPECT_GE(sent.encodedFrames, 3U);
    EXPECT_EQ(sent.codec, "video/H264");
    const Stats received = statistics(*pair.controller, false);
    EXPECT_EQ(received.encodedFrames, 0U);
    EXPECT_EQ(received.codec, "video/H264");
}

TEST_F(EngineConnection, CloseReportsClosedOnceAndEndsQuickly) {
    PeerPair pair(started);
    ASSERT_TRUE(pair.connect(controlChannelOptions(), motionChannelOptions()));
    const auto start = std::chrono::steady_clock::now();
    pair.host->close();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
    EXPECT_EQ(pair.host->connectionState(), engine::stateClosed);
    const auto states = pair.hostObserver.states();
    ASSERT_FALSE(states.empty());
    EXPECT_EQ(states.back(), engine::stateClosed);
    EXPECT_EQ(std::count(states.begin(), states.end(), engine::stateClosed), 1);
    // Nothing is reported after close returned.
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(pair.hostObserver.states().size(), states.size());
}

std::vector<std::string> threadNames() {
    std::vector<std::string> names;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string name;
        std::getline(comm, name);
        names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::size_t countNamed(const std::vector<std::string>& names, std::string_view prefix) {
    return static_cast<std::size_t>(
        std::count_if(names.begin(), names.end(), [&](const std::string& name) { return name.starts_with(prefix); }));
}

// Streaming threads are GLib pool threads that go back to the pool, where
// they idle under their old names; these are the connection's own.
TEST_F(EngineConnection, TheConnectionsOwnThreadsEndWithClose) {
    PeerPair pair(started);
    ASSERT_TRUE(pair.connect(controlChannelOptions(), motionChannelOptions()));
    const auto running = threadNames();
    EXPECT_EQ(countNamed(running, "engine-callback"), 2U);
    EXPECT_EQ(countNamed(running, "engine-monitor"), 2U);
    EXPECT_GE(countNamed(running, "webrtcbin"), 4U);  // its own and libnice's, per connection

    pair.host->close();
    pair.controller->close();
    EXPECT_EQ(countNamed(threadNames(), "engine-"), 0U);
    // libnice's thread is told to end and not joined: allow it a moment.
    auto closed = threadNames();
    for (int waited = 0; countNamed(closed, "webrtcbin") != 0 && waited < 10; ++waited) {
        std::this_thread::sleep_for(20ms);
        closed = threadNames();
    }
    EXPECT_EQ(countNamed(closed, "webrtcbin"), 0U) << ::testing::PrintToString(closed);
}

TEST_F(EngineConnection, OperationsPendingAtCloseFailOnceAndLaterOnesFailToo) {
    PeerPair pair(started);
    Outcome<std::string> offer;
    Outcome<bool> statisticsQuery;
    pair.host->createOffer([&](std::string sdp, std::string) { offer.succeed(std::move(sdp)); },
                           [&](std::string) { offer.fail(); }, nullptr);
    pair.host->getStats([&](std::vector<engine::StatsReport>) { statisticsQuery.succeed(true); },
                        [&](std::string) { statisticsQuery.fail(); });
    pair.host->close();
    EXPECT_EQ(offer.calls(), 1);
    EXPECT_EQ(statisticsQuery.calls(), 1);

    Outcome<bool> late;
    pair.host->setRemoteDescription(
        "v=0\r\n", "offer", [&] { late.succeed(true); }, [&](std::string) { late.fail(); });
    EXPECT_EQ(late.calls(), 1);
    EXPECT_EQ(late.failures, 1);
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(offer.calls(), 1);
    EXPECT_EQ(statisticsQuery.calls(), 1);
}

TEST_F(EngineConnection, InvalidDescriptionsFailOnAnEngineThread) {
    PeerPair pair(started);
    Outcome<std::thread::id> outcome;
    pair.host->setRemoteDescription(
        "not a description", "offer", [&] { outcome.succeed(std::this_thread::get_id()); },
        [&](std::string) { outcome.succeed(std::this_thread::get_id()); });
    ASSERT_TRUE(outcome.wait(5s));
    EXPECT_NE(outcome.results.front(), std::this_thread::get_id());
    Outcome<bool> wrongType;
    pair.host->setLocalDescription(
        createdDescription(*pair.host, true), "answer-ish", [&] { wrongType.succeed(true); },
        [&](std::string) { wrongType.fail(); });
    ASSERT_TRUE(wrongType.wait(5s));
    EXPECT_EQ(wrongType.failures, 1);
}

TEST_F(EngineConnection, AQuietLiveConnectionStaysConnected) {
    PeerPair pair(started);
    ASSERT_TRUE(pair.connect(controlChannelOptions(), motionChannelOptions()));
    // Longer than the silence that counts as a lost remote; no channel traffic.
    std::this_thread::sleep_for(std::chrono::milliseconds(12000));
    for (auto* observer : {&pair.hostObserver, &pair.controllerObserver}) {
        const auto states = observer->states();
        EXPECT_FALSE(contains(states, engine::stateDisconnected));
        EXPECT_FALSE(contains(states, engine::stateFailed));
    }
    EXPECT_EQ(pair.host->connectionState(), engine::stateConnected);
    EXPECT_EQ(pair.controller->connectionState(), engine::stateConnected);
}

TEST_F(EngineConnection, AVanishedControllerIsReportedWithinTenSeconds) {
    PeerPair pair(started);
    ASSERT_TRUE(pair.connect(controlChannelOptions(), motionChannelOptions()));
    std::this_thread::sleep_for(500ms);
    const auto start = std::chrono::steady_clock::now();
    pair.controller->close();
    const bool lost = pair.hostObserver.waitFor(
        [](const auto& states) {
            return contains(states, engine::stateDisconnected) || contains(states, engine::stateFailed);
        },
        10s);
    EXPECT_TRUE(lost);
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    std::printf("host noticed the vanished controller after %lld ms\n", static_cast<long long>(elapsed.count()));
}

TEST_F(EngineConnection, AVanishedHostIsReportedWithinTenSeconds) {
    PeerPair pair(started);
    ASSERT_TRUE(pair.connect(controlChannelOptions(), motionChannelOptions()));
    std::this_thread::sleep_for(500ms);
    const auto start = std::chrono::steady_clock::now();
    pair.host->close();
    const bool lost = pair.controllerObserver.waitFor(
        [](const auto& states) {
            return contains(states, engine::stateDisconnected) || contains(states, engine::stateFailed);
        },
        10s);
    EXPECT_TRUE(lost);
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    std::printf("controller noticed the vanished host after %lld ms\n", static_cast<long long>(elapsed.count()));
}

}  // namespace
}  // namespace native_worker::integration
