#include "engine/gstreamer/capture/capture_schedule.h"

#include <algorithm>

namespace native_worker::engine::gstreamer {

CaptureSchedule::Step CaptureSchedule::step(Clock::time_point now) const {
    if (changed_ && now >= grabDue()) return Step::grab;
    return now >= resendDue() ? Step::resend : Step::wait;
}

CaptureSchedule::Clock::time_point CaptureSchedule::due() const {
    return changed_ ? std::min(grabDue(), resendDue()) : resendDue();
}

CaptureSchedule::Clock::time_point CaptureSchedule::resendDue() const {
    if (lastSent_ == Clock::time_point::max()) return lastSent_;
    if (resendNow_) return Clock::time_point::min();
    const auto next = lastSent_ + interval_;
    return offerAgain_ && next <= offerAgainUntil_ ? next : lastSent_ + refreshInterval;
}

void CaptureSchedule::grabbed(Clock::time_point now, bool delivered) {
    changed_ = false;
    lastGrab_ = now;
    if (!delivered) return;
    lastSent_ = now;
    offerAgain_ = false;
    offerAgainUntil_ = now + longestSharpening;
}

void CaptureSchedule::resent(Clock::time_point now) {
    lastSent_ = now;
    offerAgain_ = false;
    if (resendNow_) offerAgainUntil_ = now + longestSharpening;
    resendNow_ = false;
}

}  // namespace native_worker::engine::gstreamer
