// The Windows worker as a host under Wine, driven from Linux through the
// stdio relay as a host application drives it: a Linux controller worker
// and headless Chromium decode its desktop, and Chromium's input reaches a
// Windows window through SendInput. Runs when KELVARN_WINDOWS_BUILD names a
// Windows build (scripts/windows-tests.sh sets it, with Wine's environment).

#include "browser_party.h"
#include "controller_input.h"
#include "session_party.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

namespace native_worker::e2e {
namespace {

using Clock = std::chrono::steady_clock;

const char* windowsBuild() {
    return std::getenv("KELVARN_WINDOWS_BUILD");
}

std::vector<std::string> underWine() {
    const char* wine = std::getenv("KELVARN_WINE");
    return {wine ? wine : "/usr/lib/wine/wine64", std::string(windowsBuild()) + "/kelvarn-stdio-relay.exe"};
}

std::string windowsWorker() {
    return std::string(windowsBuild()) + "/kelvarn-remote-native.exe";
}

std::string display() {
    const char* name = std::getenv("DISPLAY");
    return name ? name : "";
}

json shiftDown(std::uint64_t sequence) {
    return inputEvent("keyboard.key", sequence, {{"keyCode", 56}, {"isDown", true}, {"pressedKeys", {"Shift"}}});
}

json hostCreate() {
    return {{"role", "host"},
            {"iceServers", json::array()},
            {"capture", {{"fps", 15}}},
            {"input", {{"inputEpoch", 1}, {"inputApproved", true}}}};
}

// The Windows window that reports the input it receives, one JSON line each.
class InputProbe {
public:
    InputProbe() : process_(underWine().front(), options()) {}

    bool ready() { return next("ready", 30s).has_value(); }

    // The next report of `event` that `matches`, skipping others.
    std::optional<json> next(std::string_view event, std::chrono::milliseconds limit,
                             const std::function<bool(const json&)>& matches = {}) {
        const auto deadline = Clock::now() + limit;
        while (Clock::now() < deadline) {
            const auto line = process_.readLine(std::chrono::duration_cast<std::chrono::milliseconds>(
                std::max(Clock::duration::zero(), deadline - Clock::now())));
            if (!line) break;
            const json report = json::parse(*line, nullptr, false);
            seen_ += *line;
            if (report.is_object() && report.value("event", "") == event && (!matches || matches(report)))
                return report;
        }
        return std::nullopt;
    }

    std::optional<json> key(std::string_view event, unsigned scan, std::chrono::milliseconds limit = 10s) {
        return next(event, limit, [&](const json& report) { return report["scan"] == scan; });
    }

    const std::string& seen() const { return seen_; }

private:
    static harness::LaunchOptions options() {
        harness::LaunchOptions launch;
        launch.arguments = {std::string(windowsBuild()) + "/kelvarn-input-probe.exe"};
        return launch;
    }

    harness::WorkerProcess process_;
    std::string seen_;
};

class WindowsHost : public ::testing::Test {
protected:
    void SetUp() override {
        if (!windowsBuild()) GTEST_SKIP() << "KELVARN_WINDOWS_BUILD is not set";
        ASSERT_FALSE(display().empty()) << "Wine needs DISPLAY";
    }
};

// A Windows host with headless Chromium as its controller.
struct ChromiumSession {
    WorkerParty host{"host", display(), underWine(), windowsWorker()};
    BrowserParty browser;

    std::string trace() const { return "host:\n" + describe(host) + "browser:\n" + describe(browser); }
    // Connected, the picture presented and the host ready for input.
    bool connect() {
        return connectBrowser(host, browser, hostCreate(), 60s) &&
               relayUntil(
                   host, browser, [&] { return controlMessage(browser, "controlReady").has_value(); }, 15s);
    }
    bool send(std::string_view label, const json& event) { return sendInput(browser, host, label, event); }
};

// With the window that reports what reached it.
class WindowsHostAndProbe : public WindowsHost {
protected:
    void SetUp() override {
        WindowsHost::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        ASSERT_TRUE(browserDriverInstalled()) << "run `npm ci` in tests/e2e/browser";
        probe_ = std::make_unique<InputProbe>();
        ASSERT_TRUE(probe_->ready()) << probe_->seen();
    }

    std::unique_ptr<InputProbe> probe_;
};

TEST_F(WindowsHost, StreamsToALinuxControllerAndClosesCleanly) {
    WorkerParty host("host", display(), underWine(), windowsWorker());
    WorkerParty controller("controller", display());
    const auto trace = [&] { return "host:\n" + describe(host) + "controller:\n" + describe(controller); };
    ASSERT_TRUE(
        connectWorkers(host, controller, hostCreate(), {{"role", "controller"}, {"iceServers", json::array()}}, 60s))
        << trace();
    ASSERT_TRUE(relayUntil(
        host, controller,
        [&] {
            const auto sent = host.lastMedia();
            return sent && (*sent)["encodedFrames"].get<std::uint64_t>() > 0;
        },
        15s))
        << trace();
    EXPECT_EQ((*host.lastMedia())["codec"], "video/H264");

    const std::string close = host.command("peer.close");
    ASSERT_TRUE(relayUntil(
        host, controller, [&] { return host.answerTo(close, "peer.closed").has_value(); }, 10s))
        << trace();
    EXPECT_EQ(host.process().waitForExit(10s), 0);
    EXPECT_FALSE(host.last("peer.error")) << trace();
}

TEST_F(WindowsHostAndProbe, ChromiumDecodesItAndItsInputReachesAWindowThroughSendInput) {
    InputProbe& probe = *probe_;
    ChromiumSession session;
    ASSERT_TRUE(session.connect()) << session.trace();
    const std::string displayId = (*controlMessage(session.browser, "displayList"))["activeId"];

    // A click at a picture position lands there in the window.
    ASSERT_TRUE(session.send(
        "control",
        inputEvent(
            "pointer.button", 1,
            {{"displayId", displayId}, {"button", "left"}, {"isDown", true}, {"positionX", 200}, {"positionY", 100}})))
        << session.trace();
    ASSERT_TRUE(session.send("control", inputEvent("pointer.button", 2, {{"button", "left"}, {"isDown", false}})));
    const auto pressed = probe.next("button", 10s);
    ASSERT_TRUE(pressed) << probe.seen();
    EXPECT_EQ((*pressed)["button"], "left");
    EXPECT_EQ((*pressed)["down"], true);
    EXPECT_EQ((*pressed)["x"], 200);
    EXPECT_EQ((*pressed)["y"], 100);
    EXPECT_TRUE(probe.next("button", 5s, [](const json& report) { return report["down"] == false; })) << probe.seen();

    // "A" by its scan code; Right arrow with the extended flag. (Windows
    // derives the virtual key from the scan code; Wine 8 leaves it 0.)
    for (const auto& [keyCode, sequence] : {std::pair{0, 3}, std::pair{124, 5}}) {
        ASSERT_TRUE(
            session.send("control", inputEvent("keyboard.key", sequence, {{"keyCode", keyCode}, {"isDown", true}})));
        ASSERT_TRUE(session.send("control",
                                 inputEvent("keyboard.key", sequence + 1, {{"keyCode", keyCode}, {"isDown", false}})));
    }
    const auto a = probe.key("keydown", 0x1E);
    ASSERT_TRUE(a) << probe.seen();
    EXPECT_EQ((*a)["extended"], false);
    EXPECT_TRUE(probe.key("keyup", 0x1E)) << probe.seen();
    const auto right = probe.key("keydown", 0x4D);
    ASSERT_TRUE(right) << probe.seen();
    EXPECT_EQ((*right)["extended"], true);
    EXPECT_TRUE(probe.key("keyup", 0x4D)) << probe.seen();

    ASSERT_TRUE(session.send("control", inputEvent("keyboard.text", 7, {{"text", "é€"}})));
    EXPECT_TRUE(probe.next("char", 10s, [](const json& report) { return report["unit"] == 0xE9; })) << probe.seen();
    EXPECT_TRUE(probe.next("char", 10s, [](const json& report) { return report["unit"] == 0x20AC; })) << probe.seen();

    ASSERT_TRUE(session.send("motion", inputEvent("pointer.scroll", 8, {{"deltaX", 0}, {"deltaY", -20}})));
    const auto wheel = probe.next("wheel", 10s);
    ASSERT_TRUE(wheel) << probe.seen();
    EXPECT_EQ((*wheel)["horizontal"], false);

    // A key held when the controller goes away is released by the host.
    ASSERT_TRUE(session.send("control", shiftDown(9)));
    ASSERT_TRUE(probe.key("keydown", 0x2A)) << probe.seen();
    session.browser.write({{"type", "close"}});
    EXPECT_TRUE(probe.key("keyup", 0x2A, 20s)) << probe.seen() << session.trace();

    const std::string close = session.host.command("peer.close");
    ASSERT_TRUE(relayUntil(
        session.host, session.browser, [&] { return session.host.answerTo(close, "peer.closed").has_value(); }, 10s))
        << session.trace();
    EXPECT_EQ(session.host.process().waitForExit(10s), 0);
}

TEST_F(WindowsHostAndProbe, AHeldKeyIsReleasedWhenTheHostApplicationClosesOrEndsItsInput) {
    for (const bool byClose : {true, false}) {
        SCOPED_TRACE(byClose ? "peer.close" : "end of input");
        ChromiumSession session;
        ASSERT_TRUE(session.connect()) << session.trace();
        ASSERT_TRUE(session.send("control", shiftDown(1)));
        ASSERT_TRUE(probe_->key("keydown", 0x2A)) << probe_->seen();
        if (byClose)
            session.host.command("peer.close");
        else
            session.host.process().closeInput();
        EXPECT_TRUE(probe_->key("keyup", 0x2A)) << probe_->seen() << session.trace();
        EXPECT_EQ(session.host.process().waitForExit(10s), 0) << session.trace();
    }
}

}  // namespace
}  // namespace native_worker::e2e
