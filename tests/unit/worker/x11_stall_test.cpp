// A host session on a real X server that stops answering while the
// controller holds keys and a button: the serve loop's passes stay short,
// and once the server answers again input is revoked and released.
#include "platform/display_services.h"
#include "platform/input_services.h"
#include "platform/posix/x11_sink.h"
#include "worker/session_harness.h"

#include <gtest/gtest.h>

// After gtest: Xlib's None macro would break gtest's own None.
#include "platform/posix/x11_connection.h"
#include "x11_test_display.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace native_worker::testing {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using Clock = std::chrono::steady_clock;

json event(json members, int sequence) {
    members.update(
        {{"sequence", sequence}, {"inputEpoch", 7}, {"pressedKeys", json::array()}, {"pressedButtons", json::array()}});
    if (!members.contains("modifiers")) members["modifiers"] = {{"rawValue", 0}};
    return members;
}

TEST(ServerStall, PassesStayShortAndHeldInputIsReleasedOnceTheServerAnswers) {
    const auto server = VirtualDisplay::start(1280, 720);
    if (!server) GTEST_SKIP() << "no Xvfb";
    setenv("DISPLAY", server->name().c_str(), 1);
    DesktopProbe probe;
    ASSERT_TRUE(probe.connected());
    const auto displays = platform::createSystemDisplayServices();
    const auto input = platform::createSystemInputServices();
    kelvarn::input::X11Sink sink;
    SessionHarness harness({}, {*displays, *input, sink});
    harness.connectedHost({{"input", {{"inputEpoch", 7}, {"inputApproved", true}}}});
    const auto control = harness.connection().channel("control");
    ASSERT_EQ(control->sent().back(),
              R"({"inputEpoch":7,"protocolVersion":{"major":1,"minor":0},"type":"controlReady"})");

    // Shift, Ctrl and A down, and the left button.
    control->receive(
        event({{"kind", "keyboard.key"}, {"keyCode", 0}, {"isDown", true}, {"modifiers", {{"rawValue", 3}}}}, 1).dump(),
        false);
    control->receive(event({{"kind", "pointer.button"}, {"button", "left"}, {"isDown", true}}, 2).dump(), false);
    harness.engine.thread().drain();
    ASSERT_TRUE(probe.anyKeyDown() && (probe.buttons() & Button1Mask) != 0);

    server->stall();
    // The engine's thread delivers the next key to the stalled server and waits there.
    control->receive(event({{"kind", "keyboard.key"}, {"keyCode", 11}, {"isDown", true}}, 3).dump(), false);
    // Longer than the serve loop's allowance for one pass; a pass that waits
    // for the server ends only here.
    std::atomic<bool> answering{false};
    std::jthread resume([&] {
        std::this_thread::sleep_for(16s);
        server->resume();
        answering = true;
    });
    auto longestPass = Clock::duration{};
    while (!answering) {
        const auto pass = Clock::now();
        // The session's own pass: the harness's would wait for the engine's thread.
        harness.session().pump();
        longestPass = std::max(longestPass, Clock::now() - pass);
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_LT(longestPass, 1s);

    const auto resumed = Clock::now();
    while (probe.holdsAnything() && Clock::now() - resumed < 5s) std::this_thread::sleep_for(10ms);
    EXPECT_FALSE(probe.holdsAnything());
    harness.pumpFor(5);
    const auto sent = control->sent();
    EXPECT_NE(std::find(sent.begin(), sent.end(),
                        R"({"inputEpoch":7,"protocolVersion":{"major":1,"minor":0},)"
                        R"("reason":"input_desktop_unavailable","type":"controlUnavailable"})"),
              sent.end());
    bool revokedForTheHost = false;
    for (const auto& line : harness.close()) {
        const json reported = json::parse(line);
        revokedForTheHost =
            revokedForTheHost || (reported["type"] == "peer.inputConfigured" && reported["ready"] == false);
    }
    EXPECT_TRUE(revokedForTheHost);
    unsetenv("DISPLAY");
}

// Closing a connection waits for nothing from its server, so that a server
// that stopped answering holds up neither the closing thread nor, through
// the lock closing takes, anyone opening another connection.
TEST(ServerStall, ClosingAConnectionWaitsForNoServer) {
    const auto server = VirtualDisplay::start(320, 240);
    if (!server) GTEST_SKIP() << "no Xvfb";
    setenv("DISPLAY", server->name().c_str(), 1);
    auto connection = platform::X11Connection::open();
    ASSERT_TRUE(connection);
    server->stall();
    std::jthread resume([&] {
        std::this_thread::sleep_for(3s);
        server->resume();
    });
    const auto closing = Clock::now();
    connection.reset();
    EXPECT_LT(Clock::now() - closing, 1s);
    unsetenv("DISPLAY");
}

// Xlib leaves a display whose server went away locked by the thread that
// found out: closing it on another thread must not wait for that thread.
TEST(ServerStall, ClosingAfterAnotherThreadFoundTheServerGoneWaitsForNothing) {
    auto server = VirtualDisplay::start(320, 240);
    if (!server) GTEST_SKIP() << "no Xvfb";
    setenv("DISPLAY", server->name().c_str(), 1);
    auto connection = platform::X11Connection::open();
    ASSERT_TRUE(connection);
    server->kill();
    std::thread([&] { XSync(connection->display(), False); }).join();
    ASSERT_TRUE(connection->lost());
    std::atomic<bool> closed{false};
    std::jthread guard([&] {
        for (int i = 0; i < 200 && !closed; ++i) std::this_thread::sleep_for(10ms);
        if (closed) return;
        std::fputs("closing the connection waits for good\n", stderr);
        std::_Exit(1);
    });
    connection.reset();
    closed = true;
    unsetenv("DISPLAY");
}

}  // namespace
}  // namespace native_worker::testing
