// The X server of a capture ends in the middle of it: the capturer reports a
// failure once and goes quiet, and a host worker carries on until it is told
// to close (by default Xlib would end the whole process).

#include "display_variable.h"
#include "peer_pair.h"
#include "session_party.h"
#include "virtual_display.h"
// GoogleTest first: Xlib defines None and Bool as macros.
#include <gtest/gtest.h>

#include "x11_test_display.h"

#include <atomic>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>

namespace native_worker::integration {
namespace {

using e2e::json;
using e2e::WorkerParty;
using testing::DisplayVariable;
using Clock = std::chrono::steady_clock;

class CountingObserver final : public engine::DesktopCapturerObserver {
public:
    void onCaptureStarted() override { started.fetch_add(1); }
    void onCapturePaused() override { others.fetch_add(1); }
    void onCaptureStopped() override { others.fetch_add(1); }
    void onCaptureFailed() override { failed.fetch_add(1); }

    std::atomic<int> started{0};
    std::atomic<int> failed{0};
    std::atomic<int> others{0};
};

bool within(std::chrono::milliseconds limit, const std::function<bool()>& done) {
    const auto deadline = Clock::now() + limit;
    while (!done() && Clock::now() < deadline) std::this_thread::sleep_for(20ms);
    return done();
}

// On a server that reports changes, the capture thread waits for them; on one
// that cannot, it grabs at the capture rate. Either way it notices the loss.
class CaptureLossOn : public ::testing::TestWithParam<std::vector<std::string>> {
protected:
    // A capturer of the first screen of an Xvfb of the test's own.
    void SetUp() override {
        display = testing::VirtualDisplay::start(640, 480, GetParam());
        ASSERT_TRUE(display) << "Xvfb did not start";
        variable.emplace(display->name());
        started.emplace();
        ASSERT_TRUE(started->factory) << "the engine did not start";
        device = started->factory->desktopDevice();
        const auto sources = device->screenSources();
        ASSERT_GE(sources->refresh(false, false), 1);
        capturer = device->createCapturer(sources->source(0), false);
    }

    std::unique_ptr<testing::VirtualDisplay> display;
    std::optional<DisplayVariable> variable;
    std::optional<StartedEngine> started;
    std::shared_ptr<engine::DesktopDevice> device;
    std::shared_ptr<engine::DesktopCapturer> capturer;
};

INSTANTIATE_TEST_SUITE_P(Servers, CaptureLossOn,
                         ::testing::Values(std::vector<std::string>{},
                                           std::vector<std::string>{"-extension", "DAMAGE"}));

TEST_P(CaptureLossOn, TheCapturerReportsTheLostServerOnceAndDeliversNothingMore) {
    CountingObserver observer;
    capturer->registerObserver(&observer);
    const auto track = started->factory->createVideoTrack(
        started->factory->createDesktopSource(capturer, "desktop", started->constraints), "desktop-video");
    FrameCounter frames;
    track->addRenderer(&frames);
    ASSERT_EQ(capturer->start(30), engine::DesktopCapturer::StartResult::running);
    ASSERT_TRUE(within(5s, [&] { return frames.frames() >= 3; }));

    display->kill();
    EXPECT_TRUE(within(5s, [&] { return observer.failed.load() > 0; }));
    EXPECT_FALSE(capturer->isRunning());
    const auto delivered = frames.frames();
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(frames.frames(), delivered);

    // Stopping what already failed reports nothing more; starting again finds no server.
    capturer->stop();
    EXPECT_EQ(observer.failed.load(), 1);
    EXPECT_EQ(observer.others.load(), 0);
    EXPECT_EQ(capturer->start(30), engine::DesktopCapturer::StartResult::failed);
    EXPECT_FALSE(capturer->isRunning());
    EXPECT_EQ(observer.started.load(), 1);
    track->removeRenderer(&frames);
    capturer->unregisterObserver();
}

// The server stops answering while the capture runs: stopping it waits for
// nothing from the server, neither a grab in flight nor the clean-up.
TEST_P(CaptureLossOn, StoppingWaitsForNoServerThatStoppedAnswering) {
    ASSERT_EQ(capturer->start(30), engine::DesktopCapturer::StartResult::running);
    std::this_thread::sleep_for(300ms);
    display->stall();
    std::jthread resume([&] {
        std::this_thread::sleep_for(2s);
        display->resume();
    });
    std::this_thread::sleep_for(100ms);
    const auto stopping = Clock::now();
    capturer->stop();
    EXPECT_LT(Clock::now() - stopping, 1s);
}

std::optional<bool> inputReady(const WorkerParty& worker) {
    const auto configured = worker.last("peer.inputConfigured");
    if (!configured) return std::nullopt;
    return (*configured)["ready"].get<bool>();
}

std::uint64_t captured(const json& media) {
    return media["capturedFrames"].get<std::uint64_t>();
}

TEST(CaptureLoss, AHostWorkerOutlivesItsXServerRevokesInputAndClosesWhenTold) {
    const auto hostDisplay = testing::VirtualDisplay::start(640, 480);
    ASSERT_TRUE(hostDisplay) << "Xvfb did not start";
    WorkerParty host("host", hostDisplay->name());
    WorkerParty controller("controller", VirtualDisplay::name());
    const auto trace = [&] { return "host:\n" + e2e::describe(host) + "controller:\n" + e2e::describe(controller); };
    const auto relay = [&](const std::function<bool()>& done) { return e2e::relayUntil(host, controller, done, 30s); };

    host.command("peer.create", {{"role", "host"},
                                 {"iceServers", json::array()},
                                 {"capture", {{"fps", 15}}},
                                 {"input", {{"inputEpoch", 1}, {"inputApproved", true}}}});
    controller.command("peer.create", {{"role", "controller"}, {"iceServers", json::array()}});
    ASSERT_TRUE(relay([&] { return host.last("peer.created") && controller.last("peer.created"); })) << trace();
    const std::string offer = host.command("peer.offer");
    ASSERT_TRUE(relay([&] { return host.answerTo(offer, "peer.description").has_value(); })) << trace();
    const std::string applied =
        controller.command("peer.setDescription",
                           {{"descriptionType", "offer"}, {"sdp", (*host.answerTo(offer, "peer.description"))["sdp"]}});
    ASSERT_TRUE(relay([&] { return controller.answerTo(applied, "peer.descriptionApplied").has_value(); })) << trace();
    const std::string answer = controller.command("peer.answer");
    ASSERT_TRUE(relay([&] { return controller.answerTo(answer, "peer.description").has_value(); })) << trace();
    host.command("peer.setDescription",
                 {{"descriptionType", "answer"}, {"sdp", (*controller.answerTo(answer, "peer.description"))["sdp"]}});
    ASSERT_TRUE(relay([&] { return inputReady(host) == true; })) << trace();

    hostDisplay->kill();
    const auto killed = Clock::now();
    while (inputReady(host) != false && Clock::now() - killed < 5s) host.poll(20ms);
    ASSERT_EQ(inputReady(host), false) << trace();
    EXPECT_TRUE((*host.last("peer.inputConfigured"))["requestId"].is_null());
    const std::size_t revokedAt = host.received().size();

    // Alive a while later, with statistics still coming but no new frames.
    while (Clock::now() - killed < 2s) host.poll(20ms);
    EXPECT_FALSE(host.process().waitForExit(0ms)) << trace();
    std::vector<json> mediaAfter;
    for (std::size_t i = revokedAt; i < host.received().size(); ++i)
        if (host.received()[i].is_object() && host.received()[i].value("type", "") == "peer.media")
            mediaAfter.push_back(host.received()[i]);
    ASSERT_GE(mediaAfter.size(), 2U) << trace();
    EXPECT_EQ(captured(mediaAfter.front()), captured(mediaAfter.back()));
    EXPECT_FALSE(host.last("peer.error")) << trace();
    EXPECT_FALSE(host.last("worker.error")) << trace();

    const std::string close = host.command("peer.close");
    const auto closing = Clock::now();
    while (!host.answerTo(close, "peer.closed") && Clock::now() - closing < 5s) host.poll(20ms);
    EXPECT_TRUE(host.answerTo(close, "peer.closed")) << trace();
    EXPECT_EQ(host.process().waitForExit(5s), 0);
    EXPECT_FALSE(host.last("peer.error")) << trace();
}

}  // namespace
}  // namespace native_worker::integration
