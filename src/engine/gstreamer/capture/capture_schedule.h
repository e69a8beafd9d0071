#pragma once

#include <chrono>

namespace native_worker::engine::gstreamer {

// When the capture thread grabs the screen and when it hands on the frame it
// keeps. A change is grabbed at once after a quiet spell, otherwise at the
// end of the capture interval it falls in, so grabs never exceed the capture
// rate. While nothing changes the kept frame goes out again once a second
// only: a quiet screen costs little, yet a receiver's statistics keep moving.
// A frame asked for (a key frame, a new receiver) goes out at once.
//
// A frame's bit budget blurs a picture that changed much, and the encoder
// sharpens it a step with every frame of it it is handed again: once a second,
// that would take a minute. So after a change or an asked-for frame, while an
// encoder says the last frame still took a good share of its budget (or that
// it had no room for it), the kept frame goes out again at the capture rate,
// for at most longestSharpening.
class CaptureSchedule {
public:
    using Clock = std::chrono::steady_clock;
    enum class Step { wait, grab, resend };

    static constexpr Clock::duration refreshInterval = std::chrono::seconds(1);
    static constexpr Clock::duration longestSharpening = std::chrono::seconds(4);

    // The first grab is due at once.
    explicit CaptureSchedule(Clock::duration interval) : interval_(interval) {}

    // The screen changed (without damage reports: always).
    void changed() { changed_ = true; }
    void resendNow() { resendNow_ = true; }
    // An encoder would sharpen the last frame sent further, or had no room for it.
    void offerAgain() { offerAgain_ = true; }

    Step step(Clock::time_point now) const;
    // When step() stops answering wait, unless something changes before.
    Clock::time_point due() const;

    // `delivered`: something inside the captured area had changed.
    void grabbed(Clock::time_point now, bool delivered);
    void resent(Clock::time_point now);

private:
    Clock::time_point grabDue() const { return lastGrab_ + interval_; }
    Clock::time_point resendDue() const;

    const Clock::duration interval_;
    bool changed_ = true;
    bool resendNow_ = false;
    bool offerAgain_ = false;
    Clock::time_point offerAgainUntil_{};
    Clock::time_point lastGrab_{};
    // Nothing is resent before the first grab has delivered a frame.
    Clock::time_point lastSent_ = Clock::time_point::max();
};

}  // namespace native_worker::engine::gstreamer
