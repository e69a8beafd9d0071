#pragma once

#include "media/engine.h"
#include "platform/display_services.h"

#include <gst/app/gstappsink.h>
#include <gst/video/video.h>
#include <gst/gst.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace native_worker::engine::gstreamer {

class X11FrameGrabber;

// Captures one monitor's rectangle of the X display on a thread of its own,
// at the requested rate, converts every frame to I420 and hands it, as a
// sample, to its subscribers: the tracks built on it and the encoders of the
// connections that send it. Its X connection survives the server: a lost
// server is a failed capture, reported once, not the end of the process.
// The pointer is never drawn into the picture.
class ScreenCapturer final : public DesktopCapturer {
public:
    using FrameSink = std::function<void(GstSample*)>;

    explicit ScreenCapturer(const platform::Rect& area);
    ~ScreenCapturer() override;
    ScreenCapturer(const ScreenCapturer&) = delete;
    ScreenCapturer& operator=(const ScreenCapturer&) = delete;

    void registerObserver(DesktopCapturerObserver* observer) override;
    void unregisterObserver() override;
    StartResult start(std::uint32_t framesPerSecond) override;
    void stop() override;
    bool isRunning() const override { return running_.load(); }

    // Frames reach a sink on the capture thread; unsubscribe returns once no
    // delivery to it is in progress.
    std::uint64_t subscribe(FrameSink sink);
    void unsubscribe(std::uint64_t subscription);

    // The captured size: the monitor's, rounded down to even numbers because
    // 4:2:0 encoders refuse odd ones.
    std::int32_t width() const { return width_; }
    std::int32_t height() const { return height_; }

private:
    static GstFlowReturn onSample(GstAppSink* sink, gpointer self);
    static GstBusSyncReply onBusMessage(GstBus* bus, GstMessage* message, gpointer self);
    bool buildPipeline(GstVideoFormat format, std::uint32_t rate);
    void capture(std::shared_ptr<X11FrameGrabber> grabber, std::chrono::nanoseconds interval);
    void fail();
    void notify(void (DesktopCapturerObserver::*notification)());
    void teardown();

    const std::int32_t left_;
    const std::int32_t top_;
    const std::int32_t width_;
    const std::int32_t height_;

    std::mutex controlMutex_;  // start and stop
    GstElement* pipeline_ = nullptr;
    GstElement* source_ = nullptr;  // owned by the pipeline
    std::thread captureThread_;
    std::mutex wakeMutex_;  // wakes the capture thread when running_ drops
    std::condition_variable wake_;
    std::atomic<bool> running_{false};
    std::atomic<bool> frameSeen_{false};

    std::mutex sinksMutex_;
    std::uint64_t nextSubscription_ = 1;
    std::map<std::uint64_t, FrameSink> sinks_;

    std::recursive_mutex observerMutex_;
    DesktopCapturerObserver* observer_ = nullptr;
};

}  // namespace native_worker::engine::gstreamer
