#include "engine/gstreamer/screen_capturer.h"

#include "engine/gstreamer/gst_handles.h"
#include "engine/gstreamer/x11_frame_grabber.h"

#include <gst/app/gstappsrc.h>

#include <algorithm>

namespace native_worker::engine::gstreamer {
namespace {

constexpr std::uint32_t highestFrameRate = 60;

std::int32_t even(std::int32_t length) {
    return std::max(0, length) & ~1;
}

// The pipeline's running time: what a live source stamps its buffers with.
GstClockTime runningTime(GstElement* element) {
    const GstRef<GstClock> clock(gst_element_get_clock(element));
    if (!clock) return GST_CLOCK_TIME_NONE;
    return gst_clock_get_time(clock.get()) - gst_element_get_base_time(element);
}

}  // namespace

ScreenCapturer::ScreenCapturer(const platform::Rect& area)
    : left_(area.left), top_(area.top), width_(even(area.right - area.left)), height_(even(area.bottom - area.top)) {}

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
    // What a failed run left behind: its pipeline and its finished thread.
    teardown();
    if (width_ <= 0 || height_ <= 0 || left_ < 0 || top_ < 0) return StartResult::failed;
    const std::uint32_t rate = std::clamp(framesPerSecond, 1U, highestFrameRate);
    auto grabber = X11FrameGrabber::open({left_, top_, left_ + width_, top_ + height_});
    if (!grabber || !buildPipeline(grabber->format(), rate)) {
        teardown();
        notify(&DesktopCapturerObserver::onCaptureFailed);
        return StartResult::failed;
    }
    frameSeen_.store(false);
    running_.store(true);
    captureThread_ = std::thread(&ScreenCapturer::capture, this, std::move(grabber),
                                 std::chrono::nanoseconds(std::chrono::seconds(1)) / rate);
    return StartResult::running;
}

bool ScreenCapturer::buildPipeline(GstVideoFormat format, std::uint32_t rate) {
    // A queue of one that drops the older frame: a slow encoder sees the
    // newest picture, never a backlog.
    pipeline_ = gst_parse_launch(
        "appsrc name=source is-live=true format=time max-buffers=1 leaky-type=downstream ! videoconvert ! "
        "video/x-raw,format=I420 ! appsink name=frames sync=false max-buffers=1 drop=true",
        nullptr);
    if (!pipeline_) return false;
    source_ = gst_bin_get_by_name(GST_BIN(pipeline_), "source");
    if (!source_) return false;
    gst_object_unref(source_);  // the pipeline keeps it
    const CapsRef caps(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, gst_video_format_to_string(format),
                                           "width", G_TYPE_INT, width_, "height", G_TYPE_INT, height_, "framerate",
                                           GST_TYPE_FRACTION, static_cast<gint>(rate), 1, nullptr));
    gst_app_src_set_caps(GST_APP_SRC(source_), caps.get());

    const GstRef<GstBus> bus(gst_element_get_bus(pipeline_));
    gst_bus_set_sync_handler(bus.get(), &ScreenCapturer::onBusMessage, this, nullptr);
    const GstRef<GstElement> sink(gst_bin_get_by_name(GST_BIN(pipeline_), "frames"));
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = &ScreenCapturer::onSample;
    gst_app_sink_set_callbacks(GST_APP_SINK(sink.get()), &callbacks, this, nullptr);
    return gst_element_set_state(pipeline_, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE;
}

void ScreenCapturer::capture(std::shared_ptr<X11FrameGrabber> grabber, std::chrono::nanoseconds interval) {
    using Clock = std::chrono::steady_clock;
    auto due = Clock::now();
    std::unique_lock lock(wakeMutex_);
    while (!wake_.wait_until(lock, due, [this] { return !running_.load(); })) {
        lock.unlock();
        const GstClockTime taken = runningTime(source_);
        GstBuffer* frame = grabber->grab();
        if (!frame) return fail();
        GST_BUFFER_PTS(frame) = taken;
        GST_BUFFER_DURATION(frame) = static_cast<GstClockTime>(interval.count());
        gst_app_src_push_buffer(GST_APP_SRC(source_), frame);
        // Frames missed while a grab took too long are skipped, not caught up.
        due = std::max(due + interval, Clock::now());
        lock.lock();
    }
}

void ScreenCapturer::fail() {
    if (running_.exchange(false)) notify(&DesktopCapturerObserver::onCaptureFailed);
}

void ScreenCapturer::stop() {
    bool wasRunning = false;
    {
        std::lock_guard lock(controlMutex_);
        wasRunning = running_.exchange(false);
        teardown();
    }
    if (wasRunning) notify(&DesktopCapturerObserver::onCaptureStopped);
}

void ScreenCapturer::teardown() {
    running_.store(false);
    {
        // Under the lock, so that the capture thread cannot miss the change between its test and its wait.
        std::lock_guard lock(wakeMutex_);
    }
    wake_.notify_all();
    if (captureThread_.joinable()) captureThread_.join();
    if (!pipeline_) return;
    gst_element_set_state(pipeline_, GST_STATE_NULL);
    const GstRef<GstBus> bus(gst_element_get_bus(pipeline_));
    gst_bus_set_sync_handler(bus.get(), nullptr, nullptr, nullptr);
    gst_object_unref(pipeline_);
    pipeline_ = nullptr;
    source_ = nullptr;
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
    // The conversion failed: no frame will come.
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) static_cast<ScreenCapturer*>(self)->fail();
    // Nobody reads this bus: every message ends here (a dropped one is the handler's to release).
    gst_message_unref(message);
    return GST_BUS_DROP;
}

}  // namespace native_worker::engine::gstreamer
