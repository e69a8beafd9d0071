#pragma once

#include "engine/gstreamer/capture/wake_signal.h"
#include "media/engine.h"
#include "platform/display_services.h"

#include <gst/gst.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace native_worker::engine::gstreamer {

class KeptFrame;

// Captures one monitor's rectangle of the desktop on a thread of its own and
// hands the picture, as an I420 sample, to its subscribers: the tracks built
// on it and the encoders of the connections that send it. It grabs what the
// platform's ScreenGrabber finds changed, at most at the requested rate, and
// hands the kept picture on again as CaptureSchedule says. A desktop that
// can no longer be read (a lost X server) is a failed capture, reported
// once, not the end of the process. The pointer is never drawn into the
// picture.
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
    // The subscribers get the picture again at once, changed or not (from any thread).
    void resendNow();
    // An encoder would sharpen the picture it was handed last if handed it
    // again, or had no room for it (from any thread).
    void offerAgain();

    // The captured size: the monitor's, rounded down to even numbers because
    // 4:2:0 encoders refuse odd ones.
    std::int32_t width() const { return width_; }
    std::int32_t height() const { return height_; }

private:
    struct Run;

    void capture(Run& run);
    bool grabChanges(Run& run);
    void wait(Run& run);
    void deliver(const KeptFrame& frame);
    void fail();
    void notify(void (DesktopCapturerObserver::*notification)());
    void teardown();

    const std::int32_t left_;
    const std::int32_t top_;
    const std::int32_t width_;
    const std::int32_t height_;

    std::mutex controlMutex_;  // start and stop
    // The last run's, which its thread uses until it ends.
    std::unique_ptr<Run> run_;
    std::thread captureThread_;
    WakeSignal wake_;  // stop, resendNow and offerAgain wake the capture thread
    std::atomic<bool> running_{false};
    std::atomic<bool> resendWanted_{false};
    std::atomic<bool> offerAgainWanted_{false};
    std::atomic<bool> frameSeen_{false};

    std::mutex sinksMutex_;
    std::uint64_t nextSubscription_ = 1;
    std::map<std::uint64_t, FrameSink> sinks_;

    std::recursive_mutex observerMutex_;
    DesktopCapturerObserver* observer_ = nullptr;
};

}  // namespace native_worker::engine::gstreamer
