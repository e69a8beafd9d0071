// The capture follows the screen: on a server that reports changes it grabs
// them at once and hands on a quiet screen once a second; on one that cannot
// report them it grabs at the capture rate, as it always did.

#include "display_variable.h"
#include "engine/gstreamer/capture/capture_schedule.h"
#include "engine/gstreamer/capture/screen_capturer.h"
#include "media/media_settings.h"
#include "peer_pair.h"
// GoogleTest first: Xlib defines None and Bool as macros.
#include <gtest/gtest.h>

#include "x11_test_display.h"

#include <algorithm>
#include <functional>
#include <mutex>
#include <optional>
#include <random>
#include <thread>
#include <vector>

namespace native_worker::integration {
namespace {

using testing::DisplayVariable;
using Clock = std::chrono::steady_clock;

constexpr int spotX = 100;
constexpr int spotY = 60;

// When each frame came and how bright it was at the spot.
class SpotWatcher final : public engine::VideoRenderer {
public:
    struct Seen {
        Clock::time_point at;
        int luma = 0;
    };

    void onFrame(const engine::VideoFrame* frame) override {
        if (!frame) return;
        const int luma = frame->dataY[spotY * frame->strideY + spotX];
        std::lock_guard lock(mutex_);
        seen_.push_back({Clock::now(), luma});
    }

    std::vector<Seen> seen() {
        std::lock_guard lock(mutex_);
        return seen_;
    }

    // The first frame after `since` showing the spot bright, or the limit passed.
    std::optional<Clock::time_point> brightAfter(Clock::time_point since, std::chrono::milliseconds limit) {
        for (const auto deadline = since + limit; Clock::now() < deadline; std::this_thread::sleep_for(5ms))
            for (const auto& frame : seen())
                if (frame.at >= since && frame.luma > 200) return frame.at;
        return std::nullopt;
    }

private:
    std::mutex mutex_;
    std::vector<Seen> seen_;
};

// The engine capturing a display of its own, the spot dark.
class CaptureOn {
public:
    explicit CaptureOn(const std::vector<std::string>& options)
        : display_(testing::VirtualDisplay::start(640, 480, options)),
          variable_(display_ ? display_->name() : std::string()) {
        if (!display_ || !started_.factory) return;
        const auto sources = started_.factory->desktopDevice()->screenSources();
        if (sources->refresh(false, false) < 1) return;
        capturer = started_.factory->desktopDevice()->createCapturer(sources->source(0), false);
        track_ = started_.factory->createVideoTrack(
            started_.factory->createDesktopSource(capturer, "desktop", started_.constraints), "desktop-video");
        track_->addRenderer(&watcher);
    }
    ~CaptureOn() {
        if (!capturer) return;
        capturer->stop();
        track_->removeRenderer(&watcher);
    }
    CaptureOn(const CaptureOn&) = delete;
    CaptureOn& operator=(const CaptureOn&) = delete;

    // Fills the spot with white; when the server had it.
    Clock::time_point paintSpot() {
        Display* connection = XOpenDisplay(display_->name().c_str());
        GC gc = XCreateGC(connection, DefaultRootWindow(connection), 0, nullptr);
        XSetForeground(connection, gc, 0xffffff);
        XFillRectangle(connection, DefaultRootWindow(connection), gc, spotX - 4, spotY - 4, 8, 8);
        XSync(connection, False);
        const auto painted = Clock::now();
        XFreeGC(connection, gc);
        XCloseDisplay(connection);
        return painted;
    }

    std::size_t framesBetween(Clock::time_point from, Clock::time_point to) {
        const auto seen = watcher.seen();
        return static_cast<std::size_t>(std::count_if(
            seen.begin(), seen.end(), [&](const auto& frame) { return frame.at >= from && frame.at < to; }));
    }

    std::shared_ptr<engine::DesktopCapturer> capturer;
    SpotWatcher watcher;

private:
    std::unique_ptr<testing::VirtualDisplay> display_;
    DisplayVariable variable_;
    StartedEngine started_;
    std::shared_ptr<engine::VideoTrack> track_;
};

bool firstFrame(SpotWatcher& watcher) {
    for (const auto deadline = Clock::now() + 5s; Clock::now() < deadline; std::this_thread::sleep_for(10ms))
        if (!watcher.seen().empty()) return true;
    return false;
}

TEST(DamageCapture, AQuietScreenGoesOutOnceASecondAndAChangeAtOnceWithWhatChanged) {
    CaptureOn capture({});
    ASSERT_TRUE(capture.capturer) << "no display or engine";
    ASSERT_EQ(capture.capturer->start(30), engine::DesktopCapturer::StartResult::running);
    ASSERT_TRUE(firstFrame(capture.watcher));
    EXPECT_LT(capture.watcher.seen().front().luma, 100);
    const auto quietFrom = Clock::now();
    std::this_thread::sleep_for(2500ms);
    const std::size_t quietFrames = capture.framesBetween(quietFrom, Clock::now());
    EXPECT_GE(quietFrames, 2U);
    EXPECT_LE(quietFrames, 3U);

    // A frame asked for comes at once; with no encoder to sharpen it, alone.
    const auto asked = Clock::now();
    std::dynamic_pointer_cast<engine::gstreamer::ScreenCapturer>(capture.capturer)->resendNow();
    std::this_thread::sleep_for(500ms);
    const auto resent = capture.watcher.seen();
    const auto first = std::find_if(resent.begin(), resent.end(), [&](const auto& frame) { return frame.at >= asked; });
    ASSERT_NE(first, resent.end()) << "nothing was resent";
    EXPECT_LT(first->at - asked, 200ms);
    EXPECT_EQ(capture.framesBetween(asked, Clock::now()), 1U);

    // After a quiet spell a change does not wait for the next refresh, nor a capture interval's end.
    const auto painted = capture.paintSpot();
    const auto shown = capture.watcher.brightAfter(painted, 1s);
    ASSERT_TRUE(shown) << "the change never showed";
    EXPECT_LT(*shown - painted, 400ms);
}

// A host streaming a 640x480 desktop to a controller, both on the real
// engine, from the controller's first picture on.
struct StreamedDesktop {
    explicit StreamedDesktop(const std::function<void(const std::string&)>& paint = {})
        : display(testing::VirtualDisplay::start(640, 480)), variable(display ? display->name() : std::string()) {
        if (!display) return;
        if (paint) paint(display->name());
        connected = started.factory && pair.connect(controlChannelOptions(), motionChannelOptions());
        for (const auto deadline = Clock::now() + 5s; connected && decoded() == 0 && Clock::now() < deadline;)
            std::this_thread::sleep_for(10ms);
    }
    std::uint64_t decoded() const { return pair.controllerObserver.decoded.frames(); }
    std::uint64_t decodedWithin(std::chrono::milliseconds span) const {
        const auto before = decoded();
        std::this_thread::sleep_for(span);
        return decoded() - before;
    }

    std::unique_ptr<testing::VirtualDisplay> display;
    DisplayVariable variable;
    StartedEngine started;
    PeerPair pair{started};
    bool connected = false;
};

// Squares of 8 pixels in random colours everywhere: detail the first key
// frame's budget blurs and the frames after it take seconds to sharpen.
void paintMosaic(const std::string& displayName) {
    constexpr int side = 8;
    Display* connection = XOpenDisplay(displayName.c_str());
    const int screen = DefaultScreen(connection);
    const int width = DisplayWidth(connection, screen), height = DisplayHeight(connection, screen);
    GC gc = XCreateGC(connection, DefaultRootWindow(connection), 0, nullptr);
    std::minstd_rand random(7);
    for (int y = 0; y < height; y += side)
        for (int x = 0; x < width; x += side) {
            XSetForeground(connection, gc, random() & 0xffffff);
            XFillRectangle(connection, DefaultRootWindow(connection), gc, x, y, side, side);
        }
    XSync(connection, False);
    XFreeGC(connection, gc);
    XCloseDisplay(connection);
}

// Through a real receiver: neither its jitter buffer nor its watch for lost
// pictures takes a quiet second for a loss, which would turn every refresh
// into a key frame and more.
TEST(DamageCapture, AReceiverOfAQuietScreenAsksForNothing) {
    const StreamedDesktop desktop;
    ASSERT_TRUE(desktop.display) << "Xvfb did not start";
    ASSERT_TRUE(desktop.connected) << "the engine did not start or connect";
    ASSERT_GT(desktop.decoded(), 0U);
    std::this_thread::sleep_for(1s);
    EXPECT_LE(desktop.decodedWithin(4s), 4U) << "a refresh a second";
}

// The still picture goes out again at the capture rate while the encoder
// sharpens it, but not for ever.
TEST(DamageCapture, APictureTheEncoderBlurredIsSentAgainWhileItSharpensForAWhile) {
    const StreamedDesktop desktop(paintMosaic);
    ASSERT_TRUE(desktop.display) << "Xvfb did not start";
    ASSERT_TRUE(desktop.connected) << "the engine did not start or connect";
    ASSERT_GT(desktop.decoded(), 0U);
    const auto first = Clock::now();
    EXPECT_GE(desktop.decodedWithin(1s), 10U) << "sharpened at the capture rate";
    std::this_thread::sleep_until(first + engine::gstreamer::CaptureSchedule::longestSharpening + 500ms);
    EXPECT_LE(desktop.decodedWithin(3s), 4U) << "then a refresh a second";
}

TEST(DamageCapture, WithoutDamageReportsEveryFrameIsGrabbedAtTheCaptureRate) {
    CaptureOn capture({"-extension", "DAMAGE"});
    ASSERT_TRUE(capture.capturer) << "no display or engine";
    ASSERT_EQ(capture.capturer->start(30), engine::DesktopCapturer::StartResult::running);
    ASSERT_TRUE(firstFrame(capture.watcher));
    const auto from = Clock::now();
    std::this_thread::sleep_for(1s);
    EXPECT_GE(capture.framesBetween(from, Clock::now()), 15U);
    const auto painted = capture.paintSpot();
    const auto shown = capture.watcher.brightAfter(painted, 1s);
    ASSERT_TRUE(shown) << "the change never showed";
    EXPECT_LT(*shown - painted, 400ms);
}

}  // namespace
}  // namespace native_worker::integration
