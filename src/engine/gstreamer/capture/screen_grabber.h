#pragma once

#include "platform/display_services.h"

#include <gst/video/video.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace native_worker::engine::gstreamer {

class WakeSignal;

// Reads one monitor's area of the desktop for the capture thread, the way
// its platform can: what changed since the last look, and the pixels of any
// part of the area. One thread at a time.
class ScreenGrabber {
public:
    struct Pixels {
        const std::uint8_t* data = nullptr;
        std::int32_t stride = 0;  // bytes from one row to the next
    };

    virtual ~ScreenGrabber() = default;

    // The pixels' format: 32-bit RGB in the platform's byte order.
    virtual GstVideoFormat format() const = 0;
    // The desktop has gone for good (its display server vanished).
    virtual bool lost() const = 0;
    // Whether the desktop may have changed since the last changes(): from the
    // platform's reports where it makes them, otherwise always.
    virtual bool mayHaveChanged() = 0;
    // The changed rectangles since the last call, in the area's coordinates
    // and grown to whole blocks, or the whole area when `whole`; empty when
    // nothing changed, nullopt when the desktop could not be read.
    virtual std::optional<std::vector<platform::Rect>> changes(bool whole) = 0;
    // The pixels of `part` (inside the area) now, valid until the next call;
    // nullopt when they could not be read.
    virtual std::optional<Pixels> pixels(const platform::Rect& part) = 0;
    // Returns once `timeout` has passed, `wake` was woken (which this
    // consumes) or the platform reported a change, whichever comes first.
    virtual void wait(std::chrono::nanoseconds timeout, WakeSignal& wake) = 0;
    // From another thread, at the stop: whatever the capture thread waits on
    // the platform for returns at once and fails from here on, so that a
    // display server that stopped answering holds no stop up.
    virtual void cutOff() = 0;
};

// The platform's grabber of `area`, in virtual-desktop coordinates; null when
// that area of the desktop cannot be read.
std::unique_ptr<ScreenGrabber> openScreenGrabber(const platform::Rect& area);

}  // namespace native_worker::engine::gstreamer
