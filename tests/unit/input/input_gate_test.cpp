#include "input/input_gate.h"

#include <gtest/gtest.h>

#include <array>

namespace native_worker {
namespace {

TEST(GateEvaluation, CaptureIsReadyOnlyWhenHealthyUnchangedRunningAndCounting) {
    const GateReadings ready{true, true, false, true, 1, true};
    EXPECT_EQ(evaluateGate(ready), (GateState{true, true, true, true}));
    auto with = [&ready](auto change) {
        GateReadings readings = ready;
        change(readings);
        return evaluateGate(readings);
    };
    EXPECT_EQ(with([](auto& r) { r.approved = false; }), (GateState{true, false, true, true}));
    EXPECT_EQ(with([](auto& r) { r.captureHealthy = false; }), (GateState{true, true, false, true}));
    EXPECT_EQ(with([](auto& r) { r.geometryChanged = true; }), (GateState{true, true, false, true}));
    EXPECT_EQ(with([](auto& r) { r.capturing = false; }), (GateState{true, true, false, true}));
    EXPECT_EQ(with([](auto& r) { r.capturedFrames = 0; }), (GateState{true, true, false, true}));
    EXPECT_EQ(with([](auto& r) { r.inputDesktop = false; }), (GateState{true, true, true, false}));
}

TEST(GeometryChange, IsAnyDifferenceFromWhatWasRecorded) {
    const DisplayTarget display{"1", 1920, 0, 1920, 1080, 1920, 1080};
    const VirtualScreen desktop{0, 0, 3840, 1080};
    const platform::Rect monitor{1920, 0, 3840, 1080};
    const platform::Rect whole{0, 0, 3840, 1080};
    EXPECT_FALSE(geometryChanged(monitor, whole, display, desktop));
    EXPECT_TRUE(geometryChanged(platform::Rect{1921, 0, 3841, 1080}, whole, display, desktop));
    EXPECT_TRUE(geometryChanged(platform::Rect{1920, 1, 3840, 1081}, whole, display, desktop));
    EXPECT_TRUE(geometryChanged(monitor, platform::Rect{0, 1, 3840, 1081}, display, desktop));
    EXPECT_TRUE(geometryChanged(monitor, platform::Rect{0, 0, 3841, 1080}, display, desktop));
    EXPECT_TRUE(geometryChanged(std::nullopt, whole, display, desktop));
    EXPECT_TRUE(geometryChanged(monitor, platform::Rect{0, 0, 0, 1080}, display, desktop));
    const DisplayTarget fractional{"1", 1920.9, 0.5, 1920.2, 1080, 1920, 1080};
    EXPECT_FALSE(geometryChanged(monitor, whole, fractional, desktop));
}

TEST(PeerLoss, IsDisconnectedFailedOrClosed) {
    // new, connecting, connected, disconnected, failed, closed
    const std::array lost{false, false, false, true, true, true};
    for (engine::PeerConnectionState state = 0; state < 6; ++state) EXPECT_EQ(isPeerLost(state), lost[state]) << state;
}

}  // namespace
}  // namespace native_worker
