#include "engine/gstreamer/x11_frame_grabber.h"

#include <X11/Xutil.h>
#include <sys/ipc.h>
#include <sys/shm.h>

namespace native_worker::engine::gstreamer {
namespace {

using platform::X11Connection;
using platform::X11ErrorTrap;

// The memory order of a 32-bit pixel's bytes follows the server's byte order.
GstVideoFormat formatOf(const XImage& image) {
    if (image.bits_per_pixel != 32) return GST_VIDEO_FORMAT_UNKNOWN;
    const bool littleEndian = image.byte_order == LSBFirst;
    if (image.red_mask == 0xff0000 && image.green_mask == 0xff00 && image.blue_mask == 0xff)
        return littleEndian ? GST_VIDEO_FORMAT_BGRx : GST_VIDEO_FORMAT_xRGB;
    if (image.red_mask == 0xff && image.green_mask == 0xff00 && image.blue_mask == 0xff0000)
        return littleEndian ? GST_VIDEO_FORMAT_RGBx : GST_VIDEO_FORMAT_xBGR;
    return GST_VIDEO_FORMAT_UNKNOWN;
}

void destroyImage(gpointer image) {
    XDestroyImage(static_cast<XImage*>(image));
}

}  // namespace

// A shared segment lent to a buffer; it keeps the grabber, and so the
// connection the segment is attached to, alive until the buffer is gone.
struct X11FrameGrabber::Lease {
    std::shared_ptr<X11FrameGrabber> owner;
    std::unique_ptr<SharedImage> shared;
};

std::shared_ptr<X11FrameGrabber> X11FrameGrabber::open(const platform::Rect& area) {
    auto connection = X11Connection::open();
    if (!connection) return nullptr;
    Display* display = connection->display();
    const Window root = DefaultRootWindow(display);
    GstVideoFormat format = GST_VIDEO_FORMAT_UNKNOWN;
    {
        const X11ErrorTrap trap(*connection);
        XWindowAttributes attributes{};
        if (!XGetWindowAttributes(display, root, &attributes) || connection->lost()) return nullptr;
        if (area.left < 0 || area.top < 0 || area.right <= area.left || area.bottom <= area.top ||
            area.right > attributes.width || area.bottom > attributes.height)
            return nullptr;
        XImage* probe = XGetImage(display, root, area.left, area.top, 1, 1, AllPlanes, ZPixmap);
        if (!probe) return nullptr;
        format = formatOf(*probe);
        XDestroyImage(probe);
    }
    if (format == GST_VIDEO_FORMAT_UNKNOWN) return nullptr;
    return std::make_shared<X11FrameGrabber>(Private{}, std::move(connection), area, format);
}

X11FrameGrabber::X11FrameGrabber(Private, std::unique_ptr<X11Connection> connection, const platform::Rect& area,
                                 GstVideoFormat format)
    : connection_(std::move(connection)), area_(area), format_(format) {
    if (!XShmQueryExtension(connection_->display())) return;
    // A server that cannot reach this process's segments (another machine,
    // another IPC namespace) refuses the attachment: frames then come by socket.
    const X11ErrorTrap trap(*connection_);
    if (auto first = attachImage(trap)) {
        shared_ = true;
        idle_.push_back(std::move(first));
    }
}

X11FrameGrabber::~X11FrameGrabber() {
    for (auto& shared : idle_) detachImage(*shared);
}

std::unique_ptr<X11FrameGrabber::SharedImage> X11FrameGrabber::attachImage(const X11ErrorTrap& trap) {
    Display* display = connection_->display();
    const int screen = DefaultScreen(display);
    auto shared = std::make_unique<SharedImage>();
    shared->image = XShmCreateImage(display, DefaultVisual(display, screen), static_cast<unsigned>(DefaultDepth(display, screen)),
                                    ZPixmap, nullptr, &shared->segment, static_cast<unsigned>(area_.right - area_.left),
                                    static_cast<unsigned>(area_.bottom - area_.top));
    if (!shared->image) return nullptr;
    const auto size = static_cast<std::size_t>(shared->image->bytes_per_line) * static_cast<std::size_t>(shared->image->height);
    shared->segment.shmid = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
    void* address = shared->segment.shmid < 0 ? reinterpret_cast<void*>(-1) : shmat(shared->segment.shmid, nullptr, 0);
    bool attached = false;
    if (address != reinterpret_cast<void*>(-1)) {
        shared->segment.shmaddr = shared->image->data = static_cast<char*>(address);
        shared->segment.readOnly = False;
        attached = XShmAttach(display, &shared->segment) && XSync(display, False) && !trap.failed() &&
                   !connection_->lost();
    }
    // The segment goes once both sides let go of it, even if this process dies first.
    if (shared->segment.shmid >= 0) shmctl(shared->segment.shmid, IPC_RMID, nullptr);
    if (attached) return shared;
    if (address != reinterpret_cast<void*>(-1)) shmdt(address);
    XDestroyImage(shared->image);
    return nullptr;
}

void X11FrameGrabber::detachImage(SharedImage& shared) {
    if (!connection_->lost()) XShmDetach(connection_->display(), &shared.segment);
    // The image does not own the segment: this frees the structure only.
    XDestroyImage(shared.image);
    shmdt(shared.segment.shmaddr);
}

GstBuffer* X11FrameGrabber::grab() {
    const X11ErrorTrap trap(*connection_);
    GstBuffer* frame = shared_ ? grabShared(trap) : grabCopied();
    if (frame && (trap.failed() || connection_->lost())) {
        gst_buffer_unref(frame);
        return nullptr;
    }
    return frame;
}

GstBuffer* X11FrameGrabber::grabShared(const X11ErrorTrap& trap) {
    std::unique_ptr<SharedImage> shared;
    {
        std::lock_guard lock(poolMutex_);
        if (!idle_.empty()) {
            shared = std::move(idle_.back());
            idle_.pop_back();
        }
    }
    if (!shared) shared = attachImage(trap);
    if (!shared) return nullptr;
    Display* display = connection_->display();
    if (!XShmGetImage(display, DefaultRootWindow(display), shared->image, area_.left, area_.top, AllPlanes)) {
        putIdle(std::move(shared));
        return nullptr;
    }
    const XImage& image = *shared->image;
    return wrap(image, new Lease{shared_from_this(), std::move(shared)}, &X11FrameGrabber::endLease);
}

GstBuffer* X11FrameGrabber::grabCopied() {
    Display* display = connection_->display();
    XImage* image = XGetImage(display, DefaultRootWindow(display), area_.left, area_.top,
                              static_cast<unsigned>(area_.right - area_.left),
                              static_cast<unsigned>(area_.bottom - area_.top), AllPlanes, ZPixmap);
    if (!image) return nullptr;
    return wrap(*image, image, &destroyImage);
}

GstBuffer* X11FrameGrabber::wrap(const XImage& image, gpointer release, GDestroyNotify notify) const {
    const auto size = static_cast<gsize>(image.bytes_per_line) * static_cast<gsize>(image.height);
    GstBuffer* buffer =
        gst_buffer_new_wrapped_full(GST_MEMORY_FLAG_READONLY, image.data, size, 0, size, release, notify);
    gsize offsets[GST_VIDEO_MAX_PLANES] = {0};
    gint strides[GST_VIDEO_MAX_PLANES] = {image.bytes_per_line};
    gst_buffer_add_video_meta_full(buffer, GST_VIDEO_FRAME_FLAG_NONE, format_, static_cast<guint>(image.width),
                                   static_cast<guint>(image.height), 1, offsets, strides);
    return buffer;
}

void X11FrameGrabber::putIdle(std::unique_ptr<SharedImage> shared) {
    std::lock_guard lock(poolMutex_);
    idle_.push_back(std::move(shared));
}

void X11FrameGrabber::endLease(gpointer lease) {
    const std::unique_ptr<Lease> ended(static_cast<Lease*>(lease));
    ended->owner->putIdle(std::move(ended->shared));
}

}  // namespace native_worker::engine::gstreamer
