#include "engine/gstreamer/capture/changed_parts.h"
#include "engine/gstreamer/capture/linux/x11_damage_watch.h"
#include "engine/gstreamer/capture/linux/x11_frame_grabber.h"
#include "engine/gstreamer/capture/linux/x11_pointer_watch.h"
#include "engine/gstreamer/capture/screen_grabber.h"
#include "engine/gstreamer/capture/wake_signal.h"

#include <poll.h>

namespace native_worker::engine::gstreamer {
namespace {

platform::Rect movedBy(const platform::Rect& rect, std::int32_t x, std::int32_t y) {
    return {rect.left + x, rect.top + y, rect.right + x, rect.bottom + y};
}

// The X server tells what changed through DAMAGE; the pixels come by MIT-SHM.
// A server without DAMAGE has every capture interval read the whole area.
// The pointer, which the server leaves out of the pixels, is drawn into them,
// and where it was and is counts as changed whenever it moves or changes.
class X11ScreenGrabber final : public ScreenGrabber {
public:
    X11ScreenGrabber(std::unique_ptr<X11FrameGrabber> frames, const platform::Rect& area)
        : frames_(std::move(frames)),
          damage_(X11DamageWatch::create(frames_->connection())),
          pointer_(X11PointerWatch::create()),
          area_(area) {}

    GstVideoFormat format() const override { return frames_->format(); }
    bool lost() const override { return frames_->connection().lost(); }

    bool mayHaveChanged() override {
        const bool pointerChanged = pointer_ && pointer_->changed();
        return !damage_ || damage_->changed() || pointerChanged;
    }

    std::optional<std::vector<platform::Rect>> changes(bool whole) override {
        const platform::Rect all{0, 0, area_.right - area_.left, area_.bottom - area_.top};
        // Both taken even for a whole grab: from here on they hold what changed after it.
        auto changed = damage_ ? damage_->take() : std::vector<platform::Rect>{};
        if (pointer_)
            for (const auto& place : pointer_->take()) changed.push_back(place);
        if (whole || !damage_) return std::vector<platform::Rect>{all};
        return changedParts(changed, area_);
    }

    std::optional<Pixels> pixels(const platform::Rect& part) override {
        const auto grabbed = frames_->grab(part);
        if (!grabbed) return std::nullopt;
        if (pointer_)
            drawPointer(pointer_->drawn(), grabbed->data, grabbed->stride, movedBy(part, area_.left, area_.top),
                        format());
        return Pixels{grabbed->data, grabbed->stride};
    }

    void wait(std::chrono::nanoseconds timeout, WakeSignal& wake) override {
        if (pointer_ && pointer_->reportWaiting()) return;
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(timeout);
        const timespec limit{static_cast<time_t>(seconds.count()), static_cast<long>((timeout - seconds).count())};
        // The server's reports wake the thread as well.
        pollfd ready[3] = {{static_cast<int>(wake.handle()), POLLIN, 0}};
        nfds_t count = 1;
        if (damage_) ready[count++] = {ConnectionNumber(frames_->connection().display()), POLLIN, 0};
        if (pointer_) ready[count++] = {pointer_->descriptor(), POLLIN, 0};
        if (ppoll(ready, count, &limit, nullptr) > 0 && (ready[0].revents & POLLIN)) wake.drain();
    }

    // The server frees what the run held there when its connections end.
    void cutOff() override {
        frames_->connection().cutOff();
        if (pointer_) pointer_->cutOff();
    }

private:
    const std::unique_ptr<X11FrameGrabber> frames_;
    // Null without DAMAGE, and without XFixes.
    const std::unique_ptr<X11DamageWatch> damage_;
    const std::unique_ptr<X11PointerWatch> pointer_;
    const platform::Rect area_;
};

}  // namespace

std::unique_ptr<ScreenGrabber> openScreenGrabber(const platform::Rect& area) {
    auto frames = X11FrameGrabber::open(area);
    if (!frames) return nullptr;
    return std::make_unique<X11ScreenGrabber>(std::move(frames), area);
}

}  // namespace native_worker::engine::gstreamer
