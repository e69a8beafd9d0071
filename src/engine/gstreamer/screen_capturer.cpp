#include "engine/gstreamer/screen_capturer.h"

#include "engine/gstreamer/capture_schedule.h"
#include "engine/gstreamer/changed_parts.h"
#include "engine/gstreamer/kept_frame.h"
#include "engine/gstreamer/x11_damage_watch.h"
#include "engine/gstreamer/x11_frame_grabber.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>

namespace native_worker::engine::gstreamer {
namespace {

using Clock = CaptureSchedule::Clock;

constexpr std::uint32_t highestFrameRate = 60;

std::int32_t even(std::int32_t length) {
    return std::max(0, length) & ~1;
}

}  // namespace

// What one capture run owns; its thread alone touches it.
struct ScreenCapturer::Run {
    Run(std::unique_ptr<X11FrameGrabber> frameGrabber, std::int32_t frameWidth, std::int32_t frameHeight,
        std::uint32_t rate)
        : grabber(std::move(frameGrabber)),
          damage(X11DamageWatch::create(grabber->connection())),
          frame(grabber->format(), frameWidth, frameHeight, rate),
          schedule(std::chrono::nanoseconds(std::chrono::seconds(1)) / rate) {}

    const std::unique_ptr<X11FrameGrabber> grabber;
    // Null without DAMAGE: then every capture interval counts as a change.
    const std::unique_ptr<X11DamageWatch> damage;
    KeptFrame frame;
    CaptureSchedule schedule;
    // The first grab takes everything; later ones what changed since.
    bool grabWhole = true;
};

ScreenCapturer::ScreenCapturer(const platform::Rect& area)
    : left_(area.left),
      top_(area.top),
      width_(even(area.right - area.left)),
      height_(even(area.bottom - area.top)),
      wakeFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

ScreenCapturer::~ScreenCapturer() {
    {
        std::lock_guard lock(controlMutex_);
        teardown();
    }
    if (wakeFd_ >= 0) close(wakeFd_);
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
    if (width_ <= 0 || height_ <= 0 || left_ < 0 || top_ < 0) return StartResult::failed;
    const std::uint32_t rate = std::clamp(framesPerSecond, 1U, highestFrameRate);
    auto grabber = X11FrameGrabber::open({left_, top_, left_ + width_, top_ + height_});
    if (!grabber || wakeFd_ < 0) {
        notify(&DesktopCapturerObserver::onCaptureFailed);
        return StartResult::failed;
    }
    auto run = std::make_unique<Run>(std::move(grabber), width_, height_, rate);
    // Wake-ups meant for an earlier run.
    std::uint64_t ignored = 0;
    while (read(wakeFd_, &ignored, sizeof ignored) > 0) {
    }
    resendWanted_.store(false);
    frameSeen_.store(false);
    running_.store(true);
    captureThread_ = std::thread(&ScreenCapturer::capture, this, std::move(run));
    return StartResult::running;
}

void ScreenCapturer::capture(std::unique_ptr<Run> run) {
    while (running_.load()) {
        if (resendWanted_.exchange(false)) run->schedule.resendNow();
        if (!run->damage || run->damage->changed()) run->schedule.changed();
        if (run->grabber->connection().lost()) return fail();
        const auto now = Clock::now();
        switch (run->schedule.step(now)) {
            case CaptureSchedule::Step::grab:
                if (!grabChanges(*run)) return fail();
                break;
            case CaptureSchedule::Step::resend:
                deliver(run->frame);
                run->schedule.resent(now);
                break;
            case CaptureSchedule::Step::wait:
                wait(*run);
                break;
        }
    }
}

bool ScreenCapturer::grabChanges(Run& run) {
    const auto now = Clock::now();
    const platform::Rect whole{0, 0, width_, height_};
    std::vector<platform::Rect> parts{whole};
    if (run.damage) {
        // Taken even for the first grab: from here on it holds what changed after this one.
        const auto changes = run.damage->take();
        if (!run.grabWhole) parts = changedParts(changes, {left_, top_, left_ + width_, top_ + height_});
    }
    run.grabWhole = false;
    for (const auto& part : parts) {
        const platform::Rect grabbed = run.frame.grabFor(part);
        const auto pixels = run.grabber->grab(grabbed);
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
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(left);
    const timespec timeout{static_cast<time_t>(seconds.count()),
                           static_cast<long>(std::chrono::nanoseconds(left - seconds).count())};
    // The server's reports wake the thread as well as stop and resendNow.
    pollfd ready[2] = {{wakeFd_, POLLIN, 0}, {ConnectionNumber(run.grabber->connection().display()), POLLIN, 0}};
    if (ppoll(ready, run.damage ? 2 : 1, &timeout, nullptr) <= 0 || !(ready[0].revents & POLLIN)) return;
    std::uint64_t wakeUps = 0;
    [[maybe_unused]] const ssize_t drained = read(wakeFd_, &wakeUps, sizeof wakeUps);
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
    wake();
}

void ScreenCapturer::wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(wakeFd_, &one, sizeof one);
}

void ScreenCapturer::teardown() {
    running_.store(false);
    wake();
    if (captureThread_.joinable()) captureThread_.join();
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
