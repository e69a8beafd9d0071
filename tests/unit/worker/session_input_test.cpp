#include "worker/session_harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace native_worker::testing {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

constexpr char readyText[] = R"({"inputEpoch":7,"protocolVersion":{"major":1,"minor":0},"type":"controlReady"})";

std::string unavailable(const char* reason) {
    return std::string(R"({"inputEpoch":7,"protocolVersion":{"major":1,"minor":0},"reason":")") + reason +
           R"(","type":"controlUnavailable"})";
}

json inputSettings(bool approved) {
    return {{"input", {{"inputEpoch", 7}, {"inputApproved", approved}}}};
}

// A host session with input whose offer/answer completed, so both channels are open.
class ConnectedHost : public ::testing::Test {
protected:
    void connect(bool approved = true) { harness.connectedHost(inputSettings(approved)); }

    void pumpFor(int passes) { harness.pumpFor(passes); }

    std::vector<std::string> controlSent() { return harness.connection().channel("control")->sent(); }

    std::vector<json> eventsOfType(const std::string& type) {
        std::vector<json> matching;
        for (const auto& line : harness.close()) {
            const json event = json::parse(line);
            if (event["type"] == type) matching.push_back(event);
        }
        return matching;
    }

    std::string pointerAt(double x, double y, int sequence) {
        return json{{"kind", "pointer.absolute"},
                    {"positionX", 0},
                    {"positionY", 0},
                    {"normalizedX", x},
                    {"normalizedY", y},
                    {"sequence", sequence},
                    {"inputEpoch", 7},
                    {"displayId", "1"},
                    {"modifiers", {{"rawValue", 0}}},
                    {"pressedKeys", json::array()},
                    {"pressedButtons", json::array()}}
            .dump();
    }

    SessionHarness harness;
};

TEST_F(ConnectedHost, DisplayListThenReadyWhenBothChannelsOpenAndTheGateAllows) {
    connect();
    const auto sent = controlSent();
    ASSERT_GE(sent.size(), 2u);
    EXPECT_EQ(sent[0],
              R"({"activeId":"1","displays":[{"frameHeight":1080,"frameWidth":1920,"frameX":0,"frameY":0,"id":"1",)"
              R"("isMain":true,"pixelHeight":1080,"pixelWidth":1920}],"protocolVersion":{"major":1,"minor":0},)"
              R"("type":"displayList"})");
    EXPECT_EQ(sent.back(), readyText);
    const auto configured = eventsOfType("peer.inputConfigured");
    ASSERT_EQ(configured.size(), 1u);
    EXPECT_EQ(configured[0]["ready"], true);
    EXPECT_TRUE(configured[0]["requestId"].is_null());
}

TEST_F(ConnectedHost, ControllerInputReachesTheSinkOnlyOnItsChannel) {
    connect();
    auto motion = harness.connection().channel("motion");
    auto control = harness.connection().channel("control");
    control->receive(pointerAt(1, 1, 1), false);  // motion kinds are refused on "control"
    motion->receive(pointerAt(1, 1, 2), false);
    harness.engine.thread().drain();
    ASSERT_EQ(harness.sink.records.size(), 1u);
    EXPECT_EQ(harness.sink.records[0].dx, 65535);
    EXPECT_EQ(harness.sink.records[0].dy, 65535);
}

TEST_F(ConnectedHost, WithoutApprovalNothingIsAdmittedAndTheReasonIsNotRepeated) {
    connect(false);
    pumpFor(5);
    // The gate's reason was recorded while the channels were still down, so the
    // controller hears only the display list.
    const auto sent = controlSent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_NE(sent[0].find("\"displayList\""), std::string::npos);
    harness.connection().channel("motion")->receive(pointerAt(1, 1, 1), false);
    harness.engine.thread().drain();
    EXPECT_TRUE(harness.sink.records.empty());
    EXPECT_TRUE(eventsOfType("peer.inputConfigured").empty());
}

TEST_F(ConnectedHost, InputGateCommandAnswersWithItsRequestId) {
    connect();
    ASSERT_EQ(harness.dispatch(SessionHarness::command("peer.inputGate", "g1", {{"inputEpoch", 7}})), "");
    const auto configured = eventsOfType("peer.inputConfigured");
    ASSERT_EQ(configured.size(), 2u);
    EXPECT_EQ(configured[1]["requestId"], "g1");
    EXPECT_EQ(configured[1]["ready"], true);
    EXPECT_EQ(configured[1]["inputEpoch"], 7);
}

TEST_F(ConnectedHost, InputGateRefusals) {
    connect();
    EXPECT_EQ(harness.dispatch(SessionHarness::command("peer.inputGate", "g1", {{"inputEpoch", 6}})),
              "input_epoch_mismatch");
    SessionHarness noInput;
    noInput.createdHost();
    EXPECT_EQ(noInput.dispatch(SessionHarness::command("peer.inputGate", "g1", {{"inputEpoch", 7}})),
              "invalid_message");
    SessionHarness controller;
    controller.createdController();
    EXPECT_EQ(controller.dispatch(SessionHarness::command("peer.inputGate", "g1", {{"inputEpoch", 7}})),
              "invalid_message");
}

TEST_F(ConnectedHost, CaptureFailureRevokesAndTheNextPassTellsTheHost) {
    connect();
    harness.engine.failCapture();
    harness.engine.thread().drain();
    pumpFor(2);
    EXPECT_EQ(controlSent().back(), unavailable("capture_unavailable"));
    const auto configured = eventsOfType("peer.inputConfigured");
    ASSERT_EQ(configured.size(), 2u);
    EXPECT_EQ(configured[1]["ready"], false);
}

TEST_F(ConnectedHost, ADisplayLayoutChangeRevokesForTheRestOfTheSession) {
    connect();
    harness.displays.setMonitors({{1, {0, 0, 1921, 1080}, true, "\\\\.\\DISPLAY1"}});
    pumpFor(2);
    harness.displays.setMonitors({{1, {0, 0, 1920, 1080}, true, "\\\\.\\DISPLAY1"}});
    pumpFor(2);
    EXPECT_EQ(controlSent().back(), unavailable("capture_unavailable"));
    const auto configured = eventsOfType("peer.inputConfigured");
    EXPECT_EQ(configured.back()["ready"], false);
}

TEST_F(ConnectedHost, AKeyHeldAtCloseIsReleased) {
    connect();
    const json keyDown{{"kind", "keyboard.key"},
                       {"keyCode", 0},
                       {"isDown", true},
                       {"sequence", 1},
                       {"inputEpoch", 7},
                       {"modifiers", {{"rawValue", 0}}},
                       {"pressedKeys", json::array()},
                       {"pressedButtons", json::array()}};
    harness.connection().channel("control")->receive(keyDown.dump(), false);
    harness.engine.thread().drain();
    ASSERT_EQ(harness.sink.records.size(), 1u);
    harness.close();
    ASSERT_EQ(harness.sink.records.size(), 2u);
    const auto& press = harness.sink.records[0];
    const auto& release = harness.sink.records[1];
    EXPECT_EQ(release.wScan, press.wScan);
    EXPECT_EQ(release.dwFlags, press.dwFlags | 2u);  // key up
}

TEST_F(ConnectedHost, ALostPeerIsReportedToTheController) {
    connect();
    harness.connection().emitState(engine::stateFailed);
    harness.engine.thread().drain();
    EXPECT_EQ(controlSent().back(), unavailable("peer_lost"));
}

}  // namespace
}  // namespace native_worker::testing
