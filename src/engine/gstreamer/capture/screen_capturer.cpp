#include "engine/gstreamer/capture/screen_capturer.h"

#include "engine/gstreamer/capture/capture_schedule.h"
#include "engine/gstreamer/capture/kept_frame.h"
#include "engine/gstreamer/capture/screen_grabber.h"
#include "platform/process.h"

#include <algorithm>
#include <cstdint>
#include <functional>

namespace native_worker::engine::gstreamer {
namespace {

using Clock = CaptureSchedule::Clock;

std::int32_t even(std::int32_t length) {
    return std::max(0, length) & ~1;
}

}  // namespace

// What one capture run owns; its thread alone touches it, but for the cut-off at the stop.
struct ScreenCapturer::Run {
    Run(std::unique_ptr<ScreenGrabber> screenGrabber, std::int32_t frameWidth, std::int32_t frameHeight,
        std::uint32_t rate)
        : grabber(std::move(screenGrabber)),
          frame(grabber->format(), frameWidth, frameHeight, rate),
          schedule(std::chrono::nanoseconds(std::chrono::seconds(1)) / rate) {}

    const std::unique_ptr<ScreenGrabber> grabber;
    KeptFrame frame;
    CaptureSchedule schedule;
    // The first grab takes everything; later ones what changed since.
    bool grabWhole = true;
};

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
    // What a failed run left behind: its finished thread.
    teardown();
    if (width_ <= 0 || height_ <= 0) return StartResult::failed;
    const std::uint32_t rate = std::clamp<std::uint32_t>(framesPerSecond, 1, highestFramesPerSecond);
    auto grabber = openScreenGrabber({left_, top_, left_ + width_, top_ + height_});
    if (!grabber || !wake_.valid()) {
        notify(&DesktopCapturerObserver::onCaptureFailed);
        return StartResult::failed;
    }
    run_ = std::make_unique<Run>(std::move(grabber), width_, height_, rate);
    // Wake-ups meant for an earlier run.
    wake_.drain();
    resendWanted_.store(false);
    offerAgainWanted_.store(false);
    frameSeen_.store(false);
    running_.store(true);
    captureThread_ = std::thread(&ScreenCapturer::capture, this, std::ref(*run_));
    return StartResult::running;
}

void ScreenCapturer::capture(Run& run) {
    platform::nameCurrentThread("screen-capture");
    while (running_.load()) {
        if (resendWanted_.exchange(false)) run.schedule.resendNow();
        if (offerAgainWanted_.exchange(false)) run.schedule.offerAgain();
        if (run.grabber->mayHaveChanged()) run.schedule.changed();
        if (run.grabber->lost()) return fail();
        const auto now = Clock::now();
        switch (run.schedule.step(now)) {
            case CaptureSchedule::Step::grab:
                if (!grabChanges(run)) return fail();
                break;
            case CaptureSchedule::Step::resend:
                deliver(run.frame);
                run.schedule.resent(now);
                break;
            case CaptureSchedule::Step::wait:
                wait(run);
                break;
        }
    }
}

bool ScreenCapturer::grabChanges(Run& run) {
    const auto now = Clock::now();
    const auto changes = run.grabber->changes(run.grabWhole);
    if (!changes) return false;
    const std::vector<platform::Rect>& parts = *changes;
    run.grabWhole = false;
    for (const auto& part : parts) {
        const platform::Rect grabbed = run.frame.grabFor(part);
        const auto pixels = run.grabber->pixels(grabbed);
        if (!pixels) return false;
        run.frame.keep(part, grabbed, pixels->data, pixels->stride);
    }
    run.schedule.grabbed(now, !parts.empty());
    if (!parts.empty()) deliver(run.frame);
    return true;
}

void ScreenCapturer::wait(Run& run) {
    const auto left = std::clamp<Clock::duration>(run.schedule.due() - Clock::now(), Clock::duration::zero(),
                                                  CaptureSchedule::refreshInterval);
    run.grabber->wait(left, wake_);
}

void ScreenCapturer::deliver(const KeptFrame& frame) {
    GstSample* sample = frame.sample();
    if (!frameSeen_.exchange(true)) notify(&DesktopCapturerObserver::onCaptureStarted);
    {
        std::lock_guard lock(sinksMutex_);
        for (auto& [subscription, sink] : sinks_) sink(sample);
    }
    gst_sample_unref(sample);
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

void ScreenCapturer::resendNow() {
    resendWanted_.store(true);
    wake_.wake();
}

void ScreenCapturer::offerAgain() {
    offerAgainWanted_.store(true);
    wake_.wake();
}

void ScreenCapturer::teardown() {
    running_.store(false);
    wake_.wake();
    if (run_) run_->grabber->cutOff();
    if (captureThread_.joinable()) captureThread_.join();
    run_.reset();
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

}  // namespace native_worker::engine::gstreamer
