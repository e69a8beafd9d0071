#include "engine/gstreamer/capture/linux/x11_frame_grabber.h"

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

unsigned width(const platform::Rect& rect) {
    return static_cast<unsigned>(rect.right - rect.left);
}

unsigned height(const platform::Rect& rect) {
    return static_cast<unsigned>(rect.bottom - rect.top);
}

}  // namespace

std::unique_ptr<X11FrameGrabber> X11FrameGrabber::open(const platform::Rect& area) {
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
    return std::unique_ptr<X11FrameGrabber>(new X11FrameGrabber(std::move(connection), area, format));
}

X11FrameGrabber::X11FrameGrabber(std::unique_ptr<X11Connection> connection, const platform::Rect& area,
                                 GstVideoFormat format)
    : connection_(std::move(connection)), area_(area), format_(format) {
    // A server that cannot reach this process's segments (another machine,
    // another IPC namespace) refuses the attachment: frames then come by socket.
    if (XShmQueryExtension(connection_->display()) && !attachSegment()) segment_.reset();
}

X11FrameGrabber::~X11FrameGrabber() {
    image_.reset();
    if (!segment_) return;
    if (!connection_->lost()) {
        XShmDetach(connection_->display(), &*segment_);
        XSync(connection_->display(), False);
    }
    shmdt(segment_->shmaddr);
}

bool X11FrameGrabber::attachSegment() {
    Display* display = connection_->display();
    // Rows of 32-bit pixels need no padding: the whole area at its own width is the largest grab.
    const std::size_t size = std::size_t{width(area_)} * height(area_) * 4;
    segment_.emplace();
    segment_->shmid = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
    if (segment_->shmid < 0) return false;
    void* address = shmat(segment_->shmid, nullptr, 0);
    // The segment goes once both sides let go of it, even if this process dies first.
    shmctl(segment_->shmid, IPC_RMID, nullptr);
    if (address == reinterpret_cast<void*>(-1)) return false;
    segment_->shmaddr = static_cast<char*>(address);
    segment_->readOnly = False;
    const X11ErrorTrap trap(*connection_);
    if (XShmAttach(display, &*segment_) && XSync(display, False) && !trap.failed() && !connection_->lost()) return true;
    shmdt(address);
    return false;
}

std::optional<X11FrameGrabber::Pixels> X11FrameGrabber::grab(const platform::Rect& part) {
    image_.reset();
    const X11ErrorTrap trap(*connection_);
    image_ = segment_ ? grabShared(part) : grabCopied(part);
    if (!image_ || trap.failed() || connection_->lost()) return std::nullopt;
    return Pixels{reinterpret_cast<std::uint8_t*>(image_->data), image_->bytes_per_line};
}

X11FrameGrabber::ImagePointer X11FrameGrabber::grabShared(const platform::Rect& part) {
    Display* display = connection_->display();
    const int screen = DefaultScreen(display);
    // The image only describes the segment: destroying it leaves the segment alone.
    ImagePointer image(XShmCreateImage(display, DefaultVisual(display, screen),
                                       static_cast<unsigned>(DefaultDepth(display, screen)), ZPixmap, segment_->shmaddr,
                                       &*segment_, width(part), height(part)));
    if (!image || !XShmGetImage(display, DefaultRootWindow(display), image.get(), area_.left + part.left,
                                area_.top + part.top, AllPlanes))
        return nullptr;
    return image;
}

X11FrameGrabber::ImagePointer X11FrameGrabber::grabCopied(const platform::Rect& part) {
    Display* display = connection_->display();
    return ImagePointer(XGetImage(display, DefaultRootWindow(display), area_.left + part.left, area_.top + part.top,
                                  width(part), height(part), AllPlanes, ZPixmap));
}

}  // namespace native_worker::engine::gstreamer
