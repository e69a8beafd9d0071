#pragma once

#include "platform/display_services.h"
#include "platform/posix/x11_connection.h"

#include <X11/Xlib.h>
#include <X11/extensions/XShm.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <memory>
#include <mutex>
#include <vector>

namespace native_worker::engine::gstreamer {

// Copies one rectangle of the X display's root window into video buffers
// over a connection of its own, which outlives its server: a vanished
// server makes grab() fail instead of ending the process. With MIT-SHM the
// server writes into shared segments that the buffers lend downstream;
// without it each frame is read from the socket.
class X11FrameGrabber final : public std::enable_shared_from_this<X11FrameGrabber> {
    struct Private {};

public:
    // Null when the display named by DISPLAY cannot be opened, the rectangle
    // does not lie inside its root window, or its pixels are not 32-bit RGB.
    static std::shared_ptr<X11FrameGrabber> open(const platform::Rect& area);
    X11FrameGrabber(Private, std::unique_ptr<platform::X11Connection> connection, const platform::Rect& area,
                    GstVideoFormat format);
    ~X11FrameGrabber();
    X11FrameGrabber(const X11FrameGrabber&) = delete;
    X11FrameGrabber& operator=(const X11FrameGrabber&) = delete;

    GstVideoFormat format() const { return format_; }
    // The rectangle's pixels now; null when the server refused them or went
    // away. One thread at a time; the buffers may be released on any thread.
    GstBuffer* grab();

private:
    struct SharedImage {
        XShmSegmentInfo segment{};
        XImage* image = nullptr;
    };
    struct Lease;

    // Call with an error trap in place.
    std::unique_ptr<SharedImage> attachImage(const platform::X11ErrorTrap& trap);
    void detachImage(SharedImage& shared);
    GstBuffer* grabShared(const platform::X11ErrorTrap& trap);
    GstBuffer* grabCopied();
    GstBuffer* wrap(const XImage& image, gpointer release, GDestroyNotify notify) const;
    void putIdle(std::unique_ptr<SharedImage> shared);
    static void endLease(gpointer lease);

    const std::unique_ptr<platform::X11Connection> connection_;
    const platform::Rect area_;
    const GstVideoFormat format_;
    bool shared_ = false;

    // Segments no buffer holds; the pool grows to what the pipeline keeps in flight.
    std::mutex poolMutex_;
    std::vector<std::unique_ptr<SharedImage>> idle_;
};

}  // namespace native_worker::engine::gstreamer
