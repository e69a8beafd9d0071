#include "input/remote_control.h"
#include "input_test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace native_worker {
namespace {

using namespace kelvarn::input;
using nlohmann::json;
using testing::key;

const std::string ready7 = R"({"inputEpoch":7,"protocolVersion":{"major":1,"minor":0},"type":"controlReady"})";

std::string unavailable(const char* reason) {
    return std::string(R"({"inputEpoch":7,"protocolVersion":{"major":1,"minor":0},"reason":")") + reason +
           R"(","type":"controlUnavailable"})";
}

class RemoteControlTest : public ::testing::Test {
protected:
    void openBoth() {
        control.onChannelState("control", true);
        control.onChannelState("motion", true);
    }

    void makeReady() {
        control.updateGate(testing::openGate);
        openBoth();
        ASSERT_TRUE(control.isReady());
        sent.clear();
    }

    bool message(const std::string& label, const json& members) {
        return control.onMessage(label, events(members), false);
    }

    // Messages sent by the gate's thread while the test thread waits for them.
    std::vector<std::string> sentWhenCount(std::size_t count) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        for (;;) {
            {
                std::lock_guard lock(sentMutex);
                if (sent.size() >= count || std::chrono::steady_clock::now() > deadline) return sent;
            }
            std::this_thread::yield();
        }
    }

    RecordingSink sink;
    std::mutex sentMutex;
    std::vector<std::string> sent;
    RemoteControl control{testing::testIdentity(),
                          testing::testEpoch,
                          testing::display1080(),
                          testing::desktop1080(),
                          sink,
                          [this](const std::string& text) {
                              std::lock_guard lock(sentMutex);
                              sent.push_back(text);
                          }};
    testing::EventTexts events;
};

TEST_F(RemoteControlTest, OnlyControlOpenSendsNothingAndDropsInput) {
    control.updateGate(testing::openGate);
    control.onChannelState("control", true);
    EXPECT_TRUE(sent.empty());
    EXPECT_FALSE(message("control", key(0, true)));
    EXPECT_TRUE(sink.records.empty());
}

TEST_F(RemoteControlTest, BothChannelsWithAnOpenGateSendOneControlReady) {
    control.updateGate(testing::openGate);
    control.onChannelState("motion", true);
    control.onChannelState("control", true);
    EXPECT_EQ(sent, std::vector{ready7});
    EXPECT_TRUE(control.isReady());
    control.updateGate(testing::openGate);
    control.onChannelState("control", true);
    EXPECT_EQ(sent.size(), 1u);
}

TEST_F(RemoteControlTest, AClosedGateIsReportedOncePerReason) {
    openBoth();
    EXPECT_EQ(sent, std::vector{unavailable("input_gate")});
    GateState gate = testing::openGate;
    gate.approved = false;
    for (int i = 0; i < 3; ++i) control.updateGate(gate);
    EXPECT_EQ(sent.size(), 1u);
    gate.captureReady = false;
    control.updateGate(gate);
    gate.captureReady = true;
    gate.inputDesktop = false;
    control.updateGate(gate);
    control.updateGate(revokingGate);
    EXPECT_EQ(sent, (std::vector{unavailable("input_gate"), unavailable("capture_unavailable"),
                                 unavailable("input_desktop_unavailable"), unavailable("capture_unavailable")}));
}

TEST_F(RemoteControlTest, AReasonRecordedWhileClosedIsNotRepeatedLater) {
    control.updateGate(revokingGate);
    EXPECT_EQ(sent, std::vector{unavailable("capture_unavailable")});  // sent even if nothing is open
    control.updateGate(revokingGate);
    EXPECT_EQ(sent.size(), 1u);
}

TEST_F(RemoteControlTest, ClosingAChannelRevokesAndReleases) {
    makeReady();
    ASSERT_TRUE(message("control", key(0, true)));
    ASSERT_TRUE(message("control", {{"kind", "pointer.button"}, {"button", "left"}, {"isDown", true}}));
    sink.clear();
    control.onChannelState("motion", false);
    EXPECT_EQ(sent, std::vector{unavailable("channel_closed")});
    EXPECT_FALSE(control.isReady());
    EXPECT_EQ(sink.records, (std::vector{keyboardRecord(0, 0x1E, 0xA), mouseRecord(mouseeventfLeftUp)}));
    control.onChannelState("control", false);
    control.onChannelState("control", false);
    EXPECT_EQ(sent.size(), 1u);
}

TEST_F(RemoteControlTest, AnyClosingChannelRevokesAndOtherLabelsRetry) {
    control.updateGate(testing::openGate);
    control.onChannelState("control", true);
    control.onChannelState("chat", false);
    EXPECT_EQ(sent, std::vector{unavailable("channel_closed")});
    control.onChannelState("motion", true);
    EXPECT_EQ(sent, (std::vector{unavailable("channel_closed"), ready7}));
    ASSERT_TRUE(message("control", key(0, true)));
    sink.clear();
    sent.clear();
    // Revoked; the retry then finds the epoch spent, and its reset releases A.
    control.onChannelState("chat", false);
    EXPECT_EQ(sent, (std::vector{unavailable("channel_closed"), unavailable("input_gate")}));
    EXPECT_FALSE(control.isReady());
    EXPECT_EQ(sink.records, std::vector{keyboardRecord(0, 0x1E, 0xA)});
}

TEST_F(RemoteControlTest, AClosingGateReleasesAtOnce) {
    makeReady();
    ASSERT_TRUE(message("control", key(0, true)));
    sink.clear();
    GateState gate = testing::openGate;
    gate.approved = false;
    control.updateGate(gate);
    EXPECT_EQ(sink.records, std::vector{keyboardRecord(0, 0x1E, 0xA)});
    EXPECT_EQ(sent, std::vector{unavailable("input_gate")});
}

TEST_F(RemoteControlTest, ALostPeerReleasesAndEndsInputForTheRestOfTheEpoch) {
    makeReady();
    ASSERT_TRUE(message("control", key(0, true)));
    sink.clear();
    control.onPeerLost();
    EXPECT_EQ(sink.records, std::vector{keyboardRecord(0, 0x1E, 0xA)});
    EXPECT_EQ(sent, std::vector{unavailable("peer_lost")});
    EXPECT_FALSE(control.isReady());
    openBoth();
    EXPECT_EQ(sent, (std::vector{unavailable("peer_lost"), unavailable("input_gate")}));
    EXPECT_FALSE(control.isReady());
}

TEST_F(RemoteControlTest, EventsMustArriveOnTheirOwnChannel) {
    makeReady();
    EXPECT_FALSE(message("motion", key(0, true)));
    EXPECT_FALSE(message("control", {{"kind", "pointer.move"}, {"deltaX", 1}, {"deltaY", 1}}));
    EXPECT_FALSE(message("chat", key(0, true)));
    EXPECT_TRUE(sink.records.empty());
    EXPECT_TRUE(message("motion", {{"kind", "pointer.move"}, {"deltaX", 1}, {"deltaY", 1}}));
    EXPECT_TRUE(message("control", key(0, true)));
}

TEST_F(RemoteControlTest, MessagesAreSizedAndTypedBeforeParsing) {
    makeReady();
    const std::string event = events(key(0, true));
    EXPECT_FALSE(control.onMessage("control", event, true));
    EXPECT_FALSE(control.onMessage("control", "", false));
    EXPECT_FALSE(control.onMessage("control", event + std::string(65537 - event.size(), ' '), false));
    EXPECT_TRUE(sink.records.empty());
    EXPECT_TRUE(control.onMessage("control", event + std::string(65536 - event.size(), ' '), false));
}

TEST_F(RemoteControlTest, AFailedInjectionIsReportedAndEndsInput) {
    makeReady();
    sink.refuse = [](const InputRecord&) { return true; };
    EXPECT_FALSE(message("control", key(0, true)));
    EXPECT_EQ(sent, std::vector{unavailable("injection_failed")});
    EXPECT_FALSE(control.isReady());
    EXPECT_FALSE(message("control", key(0, false)));
    EXPECT_EQ(sent.size(), 1u);
}

TEST_F(RemoteControlTest, RefusedEventsAreSilent) {
    makeReady();
    EXPECT_FALSE(message("control", key(52, true)));
    EXPECT_FALSE(control.onMessage("control", "{", false));
    EXPECT_TRUE(sent.empty());
    EXPECT_TRUE(control.isReady());
}

TEST_F(RemoteControlTest, NothingHappensAfterShutdownButAPeerLoss) {
    makeReady();
    ASSERT_TRUE(message("control", key(0, true)));
    sink.clear();
    control.shutdown();
    EXPECT_EQ(sink.records, std::vector{keyboardRecord(0, 0x1E, 0xA)});
    EXPECT_TRUE(sent.empty());
    control.updateGate(testing::openGate);
    control.updateGate(revokingGate);
    openBoth();
    EXPECT_FALSE(message("control", key(0, true)));
    EXPECT_TRUE(sent.empty());
    control.onPeerLost();
    EXPECT_EQ(sent, std::vector{unavailable("peer_lost")});
}

TEST(RemoteControl, AControlReadyThatCannotBeSentLeavesInputRevoked) {
    RecordingSink sink;
    int attempts = 0;
    RemoteControl control(testing::testIdentity(), testing::testEpoch, testing::display1080(), testing::desktop1080(),
                          sink, [&attempts](const std::string&) {
                              ++attempts;
                              throw std::runtime_error("channel gone");
                          });
    control.updateGate(testing::openGate);
    control.onChannelState("control", true);
    control.onChannelState("motion", true);
    EXPECT_FALSE(control.isReady());
    EXPECT_EQ(attempts, 1);
    // The epoch is spent: the next attempt is refused and reported.
    control.onChannelState("control", true);
    EXPECT_EQ(attempts, 2);
    EXPECT_FALSE(control.isReady());
}

TEST(RemoteControl, WithoutASendFunctionStateStillChanges) {
    RecordingSink sink;
    RemoteControl control(testing::testIdentity(), testing::testEpoch, testing::display1080(), testing::desktop1080(),
                          sink, nullptr);
    control.updateGate(revokingGate);
    control.onPeerLost();
    EXPECT_FALSE(control.isReady());
}

// Engine threads deliver messages while the serve loop re-evaluates the gate.
TEST_F(RemoteControlTest, CallsFromSeveralThreadsAreSerialised) {
    makeReady();
    std::thread motion([this] {
        for (int i = 0; i < 200; ++i)
            control.onMessage("motion", events({{"kind", "pointer.scroll"}, {"deltaX", 0}, {"deltaY", 20}}), false);
    });
    for (int i = 0; i < 200; ++i) control.updateGate(testing::openGate);
    motion.join();
    control.updateGate(revokingGate);
    EXPECT_FALSE(control.isReady());
}

// A sink that waits on its system (an X server that stalls) keeps an engine
// thread inside the control. The gate's updates do not wait for it, and the
// revocation among them is applied once the sink answers, though an open
// gate came after it.
TEST_F(RemoteControlTest, GateUpdatesDoNotWaitForAStuckSinkAndNoRevocationIsLost) {
    makeReady();
    std::promise<void> answer;
    const std::shared_future<void> answered = answer.get_future().share();
    std::atomic<bool> stuck{false};
    sink.refuse = [&](const InputRecord&) {
        stuck = true;
        answered.wait();
        return false;
    };
    std::thread engine([this] { message("control", key(0, true)); });
    while (!stuck) std::this_thread::yield();
    const auto updating = std::chrono::steady_clock::now();
    control.updateGate(revokingGate);
    control.updateGate(testing::openGate);
    const auto waited = std::chrono::steady_clock::now() - updating;
    EXPECT_TRUE(control.isReady());
    answer.set_value();
    engine.join();
    // The revocation and the open gate may be applied in two passes: the
    // second message is the last thing the gate's thread does.
    EXPECT_EQ(sentWhenCount(2), (std::vector{unavailable("capture_unavailable"), unavailable("input_gate")}));
    EXPECT_LT(waited, RemoteControl::gatePatience + std::chrono::milliseconds(250));
    ASSERT_EQ(sink.records.size(), 2u);
    EXPECT_EQ(sink.records[1].dwFlags & keyeventfKeyUp, keyeventfKeyUp);
}

}  // namespace
}  // namespace native_worker
