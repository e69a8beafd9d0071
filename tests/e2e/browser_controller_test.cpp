// An independent WebRTC implementation as the remote controller: headless
// Chromium answers a host worker's offer, decodes its H264 desktop, receives
// the control handshake, and drives the X server through the worker.

#include "browser_party.h"
#include "controller_input.h"
// GoogleTest first: Xlib defines None and Bool as macros.
#include <gtest/gtest.h>

#include "x11_test_display.h"

#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <cstdlib>
#include <thread>

namespace native_worker::e2e {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int inputEpoch = 1;

bool connected(const Party& party, std::string_view stateType) {
    const auto state = party.last(stateType);
    return state && (*state)["state"] == "connected";
}

bool channelOpen(const BrowserParty& browser, std::string_view label) {
    const auto channel = browser.last("channel", [&](const json& line) { return line["label"] == label; });
    return channel && (*channel)["open"] == true;
}

// The pointer as the X server has it, on a connection of the test's own.
std::pair<int, int> pointerPosition() {
    Display* display = XOpenDisplay(nullptr);
    if (!display) return {-1, -1};
    Window root = 0;
    Window child = 0;
    int x = -1;
    int y = -1;
    int windowX = 0;
    int windowY = 0;
    unsigned int mask = 0;
    XQueryPointer(display, DefaultRootWindow(display), &root, &child, &x, &y, &windowX, &windowY, &mask);
    XCloseDisplay(display);
    return {x, y};
}

class BrowserController : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(browserDriverInstalled()) << "run `npm ci` in tests/e2e/browser";
        display_ = testing::VirtualDisplay::start(1280, 720);
        ASSERT_TRUE(display_) << "Xvfb did not start";
        // The X client window below and the pointer probe use it too.
        setenv("DISPLAY", display_->name().c_str(), 1);
    }

    void TearDown() override { unsetenv("DISPLAY"); }

    std::unique_ptr<testing::VirtualDisplay> display_;
};

TEST_F(BrowserController, DecodesTheDesktopAndItsInputReachesTheXServer) {
    testing::ClientWindow window;
    WorkerParty host("host", display_->name());
    BrowserParty browser;
    const auto trace = [&] { return "host:\n" + describe(host) + "browser:\n" + describe(browser); };
    const auto relay = [&](const std::function<bool()>& done, std::chrono::milliseconds limit = 20s) {
        return relayUntil(host, browser, done, limit) && !browser.last("error") && !host.last("peer.error");
    };

    host.command("peer.create", {{"role", "host"},
                                 {"iceServers", json::array()},
                                 {"capture", {{"fps", 15}}},
                                 {"input", {{"inputEpoch", inputEpoch}, {"inputApproved", true}}}});
    ASSERT_TRUE(relay([&] { return host.last("peer.created") && browser.last("ready"); }, 30s)) << trace();

    const std::string offer = host.command("peer.offer");
    ASSERT_TRUE(relay([&] { return host.answerTo(offer, "peer.description").has_value(); })) << trace();
    browser.write({{"type", "offer"}, {"sdp", (*host.answerTo(offer, "peer.description"))["sdp"]}});
    ASSERT_TRUE(relay([&] { return browser.last("answer").has_value(); })) << trace();
    host.command("peer.setDescription", {{"descriptionType", "answer"}, {"sdp", (*browser.last("answer"))["sdp"]}});

    ASSERT_TRUE(relay([&] {
        return connected(host, "peer.state") && connected(browser, "state") && channelOpen(browser, "control") &&
               channelOpen(browser, "motion") && controlMessage(browser, "displayList") &&
               controlMessage(browser, "controlReady");
    })) << trace();
    EXPECT_EQ(controlMessage(browser, "controlReady")->value("inputEpoch", 0), inputEpoch);

    // The page decodes the H264 desktop and presents frames.
    std::optional<json> stats;
    const auto streaming = Clock::now();
    for (stats = browser.stats(host); stats && Clock::now() - streaming < 15s; stats = browser.stats(host)) {
        if ((*stats)["framesDecoded"].get<int>() > 0 && (*stats)["presentedFrames"].get<int>() > 0) break;
        relayUntil(
            host, browser, [] { return false; }, 300ms);
    }
    ASSERT_TRUE(stats) << trace();
    EXPECT_GT((*stats)["framesDecoded"].get<int>(), 0) << stats->dump();
    EXPECT_GT((*stats)["presentedFrames"].get<int>(), 0) << stats->dump();
    EXPECT_EQ((*stats)["codec"], "video/H264");
    EXPECT_EQ((*stats)["frameWidth"], 1280);
    EXPECT_EQ((*stats)["frameHeight"], 720);

    // Aim at three quarters across and half down the announced picture.
    const json list = *controlMessage(browser, "displayList");
    const std::string activeId = list["activeId"];
    json active;
    for (const json& display : list["displays"])
        if (display["id"] == activeId) active = display;
    ASSERT_TRUE(active.is_object()) << list.dump();
    const double positionX = active["pixelWidth"].get<double>() * 0.75;
    const double positionY = active["pixelHeight"].get<double>() * 0.5;
    const int expectedX = active["frameX"].get<int>() + active["frameWidth"].get<int>() * 3 / 4;
    const int expectedY = active["frameY"].get<int>() + active["frameHeight"].get<int>() / 2;
    ASSERT_NE(pointerPosition(), std::make_pair(expectedX, expectedY)) << "the pointer is already there";
    ASSERT_TRUE(sendInput(browser, host, "motion",
                          inputEvent("pointer.absolute", 1,
                                     {{"displayId", activeId}, {"positionX", positionX}, {"positionY", positionY}})))
        << trace();
    const auto moving = Clock::now();
    while (pointerPosition() != std::make_pair(expectedX, expectedY) && Clock::now() - moving < 5s)
        std::this_thread::sleep_for(20ms);
    EXPECT_EQ(pointerPosition(), std::make_pair(expectedX, expectedY));

    // "A" down and up, then text that no key of the map types.
    const std::string text = "é€ü";
    ASSERT_TRUE(sendInput(browser, host, "control", inputEvent("keyboard.key", 1, {{"keyCode", 0}, {"isDown", true}})))
        << trace();
    ASSERT_TRUE(sendInput(browser, host, "control", inputEvent("keyboard.key", 2, {{"keyCode", 0}, {"isDown", false}})))
        << trace();
    ASSERT_TRUE(sendInput(browser, host, "control", inputEvent("keyboard.text", 3, {{"text", text}}))) << trace();
    EXPECT_EQ(window.typed(4, 10s), "a" + text);
    const auto keys = window.keys(2);
    ASSERT_GE(keys.size(), 2U);
    EXPECT_TRUE(keys[0].press);
    EXPECT_EQ(keys[0].keysym, static_cast<KeySym>(XK_a));
    EXPECT_FALSE(keys[1].press);
    EXPECT_EQ(keys[1].keysym, static_cast<KeySym>(XK_a));
    EXPECT_FALSE(controlMessage(browser, "controlUnavailable")) << trace();

    browser.write({{"type", "close"}});
    const std::string close = host.command("peer.close");
    ASSERT_TRUE(relay([&] { return host.answerTo(close, "peer.closed").has_value(); }, 5s)) << trace();
    EXPECT_EQ(host.process().waitForExit(5s), 0);
    EXPECT_EQ(browser.process().waitForExit(10s), 0) << trace();
}

}  // namespace
}  // namespace native_worker::e2e
