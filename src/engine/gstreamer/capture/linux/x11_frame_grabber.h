#pragma once

#include "platform/display_services.h"
#include "platform/posix/x11_connection.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <gst/video/video.h>

#include <cstdint>
#include <memory>
#include <optional>

namespace native_worker::engine::gstreamer {

// Copies rectangles of one area of the X display's root window over a
// connection of its own, which outlives its server: a vanished server makes
// grab() fail instead of ending the process. With MIT-SHM the server writes
// into one shared segment as large as the area, so a grab costs what it
// copies; without it the pixels are read from the socket. One thread at a time.
class X11FrameGrabber {
public:
    // Null when the display named by DISPLAY cannot be opened, the area
    // does not lie inside its root window, or its pixels are not 32-bit RGB.
    static std::unique_ptr<X11FrameGrabber> open(const platform::Rect& area);
    ~X11FrameGrabber();
    X11FrameGrabber(const X11FrameGrabber&) = delete;
    X11FrameGrabber& operator=(const X11FrameGrabber&) = delete;

    GstVideoFormat format() const { return format_; }
    const platform::X11Connection& connection() const { return *connection_; }

    // The grab's own copy of the pixels, which its caller may draw on.
    struct Pixels {
        std::uint8_t* data = nullptr;
        std::int32_t stride = 0;
    };
    // The pixels of `part` (relative to the area, inside it) now, valid until
    // the next grab; empty when the server refused them or went away.
    std::optional<Pixels> grab(const platform::Rect& part);

private:
    struct ImageRelease {
        void operator()(XImage* image) const { XDestroyImage(image); }
    };
    using ImagePointer = std::unique_ptr<XImage, ImageRelease>;

    X11FrameGrabber(std::unique_ptr<platform::X11Connection> connection, const platform::Rect& area,
                    GstVideoFormat format);
    bool attachSegment();
    ImagePointer grabShared(const platform::Rect& part);
    ImagePointer grabCopied(const platform::Rect& part);

    const std::unique_ptr<platform::X11Connection> connection_;
    const platform::Rect area_;
    const GstVideoFormat format_;
    std::optional<XShmSegmentInfo> segment_;
    ImagePointer image_;  // the last grab's
};

}  // namespace native_worker::engine::gstreamer
