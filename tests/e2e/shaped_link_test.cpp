// A host worker streaming a moving desktop to a controller worker through a
// 1 Mbit/s link with a one-second router buffer: the host must adapt its rate
// so that the buffer stays short, and the controller must keep decoding.

#include <gtest/gtest.h>

#include "moving_desktop.h"
#include "network_path.h"
#include "session_party.h"
// Xlib's macros (None) clash with GoogleTest's names: after it.
#include "x11_test_display.h"

#include <algorithm>
#include <cstdio>

namespace native_worker::e2e {
namespace {

std::uint64_t decodedFrames(const WorkerParty& controller) {
    const auto media = controller.lastMedia();
    return media ? (*media)["decodedFrames"].get<std::uint64_t>() : 0;
}

TEST(ShapedLink, TheHostSettlesBelowTheLinkRateAndTheControllerKeepsDecoding) {
    auto path = NetworkPath::create();
    if (!path) GTEST_SKIP() << "network namespaces need root and iproute2";
    const auto display = testing::VirtualDisplay::start(1280, 720);
    ASSERT_TRUE(display);
    bench::MovingDesktop desktop(display->name(), bench::MovingDesktop::Detail::detailed);
    ASSERT_TRUE(path->shape(1000, 1000));

    WorkerParty host("host", display->name(), path->senderLauncher());
    WorkerParty controller("controller", display->name(), path->receiverLauncher());
    ASSERT_TRUE(connectWorkers(host, controller,
                               {{"role", "host"}, {"iceServers", json::array()}, {"capture", {{"fps", 30}}}},
                               {{"role", "controller"}, {"iceServers", json::array()}}))
        << describe(host) << describe(controller);

    relayUntil(
        host, controller, [] { return false; }, 15s);
    const std::uint64_t framesBefore = decodedFrames(controller);
    std::vector<double> times;
    for (const auto& trip : path->ping(4)) times.push_back(trip.milliseconds.value_or(2000));
    relayUntil(
        host, controller, [] { return false; }, 1s);
    std::sort(times.begin(), times.end());
    std::printf("[ measured ] after 15 s: round trip median %.0f ms, p95 %.0f ms; %.1f frames/s decoded\n",
                times[times.size() / 2], times[times.size() * 95 / 100],
                static_cast<double>(decodedFrames(controller) - framesBefore) / 5);
    // Without congestion control the buffer stays full: about 900 ms.
    EXPECT_LT(times[times.size() / 2], 300) << "median round trip through the shaped link, ms";
    EXPECT_GT(decodedFrames(controller), framesBefore + 20);
}

}  // namespace
}  // namespace native_worker::e2e
