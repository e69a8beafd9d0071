// Desktop capture of the test's display through the engine.

#include "peer_pair.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>

namespace native_worker::integration {
namespace {

class RecordingCaptureObserver final : public engine::DesktopCapturerObserver {
public:
    void onCaptureStarted() override { started.fetch_add(1); }
    void onCapturePaused() override { paused.fetch_add(1); }
    void onCaptureStopped() override { stopped.fetch_add(1); }
    void onCaptureFailed() override { failed.fetch_add(1); }

    std::atomic<int> started{0};
    std::atomic<int> paused{0};
    std::atomic<int> stopped{0};
    std::atomic<int> failed{0};
};

class SizeRecorder final : public engine::VideoRenderer {
public:
    void onFrame(const engine::VideoFrame* frame) override {
        if (!frame) return;
        width.store(frame->width);
        height.store(frame->height);
        frames.fetch_add(1);
    }
    std::atomic<int> width{0};
    std::atomic<int> height{0};
    std::atomic<int> frames{0};
};

bool eventually(const std::function<bool()>& done) {
    for (int waited = 0; waited < 250 && !done(); ++waited) std::this_thread::sleep_for(20ms);
    return done();
}

class ScreenCapture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(started.factory) << "the engine did not start";
        sources = started.factory->desktopDevice()->screenSources();
        ASSERT_GE(sources->refresh(false, false), 1);
    }

    std::shared_ptr<engine::DesktopCapturer> capturer() {
        return started.factory->desktopDevice()->createCapturer(sources->source(0), false);
    }

    StartedEngine started;
    std::shared_ptr<engine::SourceList> sources;
};

TEST_F(ScreenCapture, SourcesAreTheMonitorsNumberedFromOne) {
    const auto monitors = started.displays->monitors();
    ASSERT_EQ(sources->count(), static_cast<std::int32_t>(monitors.size()));
    for (std::int32_t i = 0; i < sources->count(); ++i) EXPECT_EQ(sources->source(i)->id(), std::to_string(i + 1));
    EXPECT_FALSE(sources->source(sources->count()));
}

TEST_F(ScreenCapture, TheTrackShowsTheMonitorAndTheObserverHearsStartAndStop) {
    const auto capture = capturer();
    RecordingCaptureObserver observer;
    capture->registerObserver(&observer);
    const auto track = started.factory->createVideoTrack(
        started.factory->createDesktopSource(capture, "desktop", started.constraints), "desktop-video");
    SizeRecorder renderer;
    track->addRenderer(&renderer);
    ASSERT_EQ(capture->start(30), engine::DesktopCapturer::StartResult::running);
    EXPECT_TRUE(capture->isRunning());
    EXPECT_TRUE(eventually([&] { return renderer.frames.load() >= 3; }));
    EXPECT_EQ(observer.started.load(), 1);
    const platform::Rect area = started.displays->monitors().front().rect;
    EXPECT_EQ(renderer.width.load(), (area.right - area.left) & ~1);
    EXPECT_EQ(renderer.height.load(), (area.bottom - area.top) & ~1);

    capture->stop();
    EXPECT_FALSE(capture->isRunning());
    EXPECT_EQ(observer.stopped.load(), 1);
    EXPECT_EQ(observer.failed.load(), 0);
    track->removeRenderer(&renderer);
    const int framesAtRemoval = renderer.frames.load();
    capture->unregisterObserver();
    EXPECT_EQ(capture->start(30), engine::DesktopCapturer::StartResult::running);
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(renderer.frames.load(), framesAtRemoval);
    EXPECT_EQ(observer.started.load(), 1);
    capture->stop();
}

TEST_F(ScreenCapture, AnXServerThatCannotBeReachedFailsTheStart) {
    const auto capture = capturer();
    RecordingCaptureObserver observer;
    capture->registerObserver(&observer);
    const std::string display = std::getenv("DISPLAY");
    setenv("DISPLAY", ":65000", 1);
    const auto result = capture->start(15);
    setenv("DISPLAY", display.c_str(), 1);
    EXPECT_EQ(result, engine::DesktopCapturer::StartResult::failed);
    EXPECT_FALSE(capture->isRunning());
    EXPECT_EQ(observer.failed.load(), 1);
    EXPECT_EQ(observer.started.load(), 0);
    capture->unregisterObserver();
}

}  // namespace
}  // namespace native_worker::integration
