#include "engine/gstreamer/capture/changed_parts.h"
#include "engine/gstreamer/capture/linux/x11_damage_watch.h"
#include "engine/gstreamer/capture/linux/x11_frame_grabber.h"
#include "engine/gstreamer/capture/screen_grabber.h"
#include "engine/gstreamer/capture/wake_signal.h"

#include <poll.h>

namespace native_worker::engine::gstreamer {
namespace {

// The X server tells what changed through DAMAGE; the pixels come by MIT-SHM.
// A server without DAMAGE has every capture interval read the whole area.
class X11ScreenGrabber final : public ScreenGrabber {
public:
    X11ScreenGrabber(std::unique_ptr<X11FrameGrabber> frames, const platform::Rect& area)
        : frames_(std::move(frames)), damage_(X11DamageWatch::create(frames_->connection())), area_(area) {}

    GstVideoFormat format() const override { return frames_->format(); }
    bool lost() const override { return frames_->connection().lost(); }
    bool mayHaveChanged() override { return !damage_ || damage_->changed(); }

    std::optional<std::vector<platform::Rect>> changes(bool whole) override {
        const platform::Rect all{0, 0, area_.right - area_.left, area_.bottom - area_.top};
        if (!damage_) return std::vector<platform::Rect>{all};
        // Taken even for a whole grab: from here on it holds what changed after it.
        const auto changed = damage_->take();
        if (whole) return std::vector<platform::Rect>{all};
        return changedParts(changed, area_);
    }

    std::optional<Pixels> pixels(const platform::Rect& part) override { return frames_->grab(part); }

    void wait(std::chrono::nanoseconds timeout, WakeSignal& wake) override {
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(timeout);
        const timespec limit{static_cast<time_t>(seconds.count()), static_cast<long>((timeout - seconds).count())};
        // The server's reports wake the thread as well.
        pollfd ready[2] = {{static_cast<int>(wake.handle()), POLLIN, 0},
                           {ConnectionNumber(frames_->connection().display()), POLLIN, 0}};
        if (ppoll(ready, damage_ ? 2 : 1, &limit, nullptr) > 0 && (ready[0].revents & POLLIN)) wake.drain();
    }

private:
    const std::unique_ptr<X11FrameGrabber> frames_;
    // Null without DAMAGE.
    const std::unique_ptr<X11DamageWatch> damage_;
    const platform::Rect area_;
};

}  // namespace

std::unique_ptr<ScreenGrabber> openScreenGrabber(const platform::Rect& area) {
    auto frames = X11FrameGrabber::open(area);
    if (!frames) return nullptr;
    return std::make_unique<X11ScreenGrabber>(std::move(frames), area);
}

}  // namespace native_worker::engine::gstreamer
