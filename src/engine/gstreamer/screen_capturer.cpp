#include "engine/gstreamer/screen_capturer.h"

#include "engine/gstreamer/gst_handles.h"

#include <algorithm>
#include <string>

namespace native_worker::engine::gstreamer {
namespace {

constexpr std::uint32_t highestFrameRate = 60;
constexpr GstClockTime startLimit = 5 * GST_SECOND;

std::int32_t even(std::int32_t length) {
    return std::max(0, length) & ~1;
}

}  // namespace

ScreenCapturer::ScreenCapturer(const platform::Rect& area, bool showCursor)
    : left_(area.left),
      top_(area.top),
      width_(even(area.right - area.left)),
      height_(even(area.bottom - area.top)),
      showCursor_(showCursor) {}

ScreenCapturer::~ScreenCapturer() {
    std::lock_guard lock(controlMutex_);
    teardown();
}

void ScreenCapturer::registerObserver(DesktopCapturerObserver* observer) {
    std::lock_guard lock(observerMutex_);
    observer_ = observer;
}

void ScreenCapturer::unregisterObserver() {
    std::lock_guard lock(observerMutex_);
    observer_ = nullptr;
}

void ScreenCapturer::notify(void (DesktopCapturerObserver::*notification)()) {
    std::lock_guard lock(observerMutex_);
    if (!observer_) return;
    try {
        (observer_->*notification)();
    } catch (...) {
        // The observer's failure must not reach the capture thread.
    }
}

DesktopCapturer::StartResult ScreenCapturer::start(std::uint32_t framesPerSecond) {
    std::lock_guard lock(controlMutex_);
    if (running_.load()) return StartResult::running;
    if (width_ <= 0 || height_ <= 0 || left_ < 0 || top_ < 0) return StartResult::failed;
    const std::uint32_t rate = std::clamp(framesPerSecond, 1U, highestFrameRate);
    // The damage extension only reports changes: a still screen would send no
    // frames at all, and a receiver could not tell it from a lost sender.
    const std::string description =
        "ximagesrc name=source use-damage=false show-pointer=" + std::string(showCursor_ ? "true" : "false") +
        " startx=" + std::to_string(left_) + " starty=" + std::to_string(top_) +
        " endx=" + std::to_string(left_ + width_ - 1) + " endy=" + std::to_string(top_ + height_ - 1) +
        " ! video/x-raw,framerate=" + std::to_string(rate) +
        "/1 ! videoconvert ! video/x-raw,format=I420 ! appsink name=frames sync=false max-buffers=1 drop=true";
    GError* error = nullptr;
    pipeline_ = gst_parse_launch(description.c_str(), &error);
    if (error) g_error_free(error);
    if (!pipeline_) return StartResult::failed;

    const GstRef<GstBus> bus(gst_element_get_bus(pipeline_));
    gst_bus_set_sync_handler(bus.get(), &ScreenCapturer::onBusMessage, this, nullptr);
    const GstRef<GstElement> sink(gst_bin_get_by_name(GST_BIN(pipeline_), "frames"));
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = &ScreenCapturer::onSample;
    gst_app_sink_set_callbacks(GST_APP_SINK(sink.get()), &callbacks, this, nullptr);

    frameSeen_.store(false);
    running_.store(true);
    if (gst_element_set_state(pipeline_, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE ||
        gst_element_get_state(pipeline_, nullptr, nullptr, startLimit) == GST_STATE_CHANGE_FAILURE) {
        teardown();
        return StartResult::failed;
    }
    return running_.load() ? StartResult::running : StartResult::failed;
}

void ScreenCapturer::stop() {
    bool wasRunning = false;
    {
        std::lock_guard lock(controlMutex_);
        wasRunning = pipeline_ != nullptr;
        teardown();
    }
    if (wasRunning) notify(&DesktopCapturerObserver::onCaptureStopped);
}

void ScreenCapturer::teardown() {
    running_.store(false);
    if (!pipeline_) return;
    gst_element_set_state(pipeline_, GST_STATE_NULL);
    const GstRef<GstBus> bus(gst_element_get_bus(pipeline_));
    gst_bus_set_sync_handler(bus.get(), nullptr, nullptr, nullptr);
    gst_object_unref(pipeline_);
    pipeline_ = nullptr;
}

std::uint64_t ScreenCapturer::subscribe(FrameSink sink) {
    std::lock_guard lock(sinksMutex_);
    const std::uint64_t subscription = nextSubscription_++;
    sinks_.emplace(subscription, std::move(sink));
    return subscription;
}

void ScreenCapturer::unsubscribe(std::uint64_t subscription) {
    std::lock_guard lock(sinksMutex_);
    sinks_.erase(subscription);
}

GstFlowReturn ScreenCapturer::onSample(GstAppSink* sink, gpointer self) {
    auto* capturer = static_cast<ScreenCapturer*>(self);
    GstSample* sample = gst_app_sink_pull_sample(sink);
    if (!sample) return GST_FLOW_OK;
    if (!capturer->frameSeen_.exchange(true)) capturer->notify(&DesktopCapturerObserver::onCaptureStarted);
    {
        std::lock_guard lock(capturer->sinksMutex_);
        for (auto& [subscription, deliver] : capturer->sinks_) deliver(sample);
    }
    gst_sample_unref(sample);
    return GST_FLOW_OK;
}

GstBusSyncReply ScreenCapturer::onBusMessage(GstBus*, GstMessage* message, gpointer self) {
    auto* capturer = static_cast<ScreenCapturer*>(self);
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR || GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS) {
        // The X server went away or refused the capture: no frame will come.
        if (capturer->running_.exchange(false)) capturer->notify(&DesktopCapturerObserver::onCaptureFailed);
    }
    // Nobody reads this bus: every message ends here (a dropped one is the handler's to release).
    gst_message_unref(message);
    return GST_BUS_DROP;
}

}  // namespace native_worker::engine::gstreamer
