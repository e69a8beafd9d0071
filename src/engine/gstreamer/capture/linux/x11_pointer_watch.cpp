#include "engine/gstreamer/capture/linux/x11_pointer_watch.h"

#include <X11/extensions/XInput2.h>
#include <X11/extensions/Xfixes.h>

namespace native_worker::engine::gstreamer {
namespace {

using platform::X11Connection;
using platform::X11ErrorTrap;

// Moves of every pointing device, as raw events: they come whichever window
// the pointer is over. Without XInput 2 the pointer is still seen, at the
// capture's next look.
void watchMoves(Display* display) {
    int opcode = 0, event = 0, error = 0, major = 2, minor = 0;
    if (!XQueryExtension(display, "XInputExtension", &opcode, &event, &error) ||
        XIQueryVersion(display, &major, &minor) != Success)
        return;
    unsigned char bits[XIMaskLen(XI_RawMotion)] = {};
    XISetMask(bits, XI_RawMotion);
    XIEventMask mask{XIAllMasterDevices, sizeof bits, bits};
    XISelectEvents(display, DefaultRootWindow(display), &mask, 1);
}

platform::Rect movedBy(platform::Rect rect, int x, int y) {
    return {rect.left + x, rect.top + y, rect.right + x, rect.bottom + y};
}

}  // namespace

std::unique_ptr<X11PointerWatch> X11PointerWatch::create() {
    auto connection = X11Connection::open();
    if (!connection) return nullptr;
    Display* display = connection->display();
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    if (!XFixesQueryExtension(display, &eventBase, &errorBase) || !XFixesQueryVersion(display, &major, &minor) ||
        major < 2)
        return nullptr;
    const X11ErrorTrap trap(*connection);
    XFixesSelectCursorInput(display, DefaultRootWindow(display), XFixesDisplayCursorNotifyMask);
    watchMoves(display);
    XSync(display, False);
    if (trap.failed() || connection->lost()) return nullptr;
    std::unique_ptr<X11PointerWatch> watch(new X11PointerWatch(std::move(connection), eventBase));
    watch->readImage();
    return watch;
}

X11PointerWatch::X11PointerWatch(std::unique_ptr<X11Connection> connection, int fixesEventBase)
    : connection_(std::move(connection)), fixesEventBase_(fixesEventBase) {}

X11PointerWatch::~X11PointerWatch() = default;

int X11PointerWatch::descriptor() const {
    return ConnectionNumber(connection_->display());
}

bool X11PointerWatch::reportWaiting() const {
    return !connection_->lost() && XEventsQueued(connection_->display(), QueuedAlready) > 0;
}

void X11PointerWatch::readImage() {
    XFixesCursorImage* cursor = XFixesGetCursorImage(connection_->display());
    if (!cursor) return;
    image_.place = {-cursor->xhot, -cursor->yhot, cursor->width - cursor->xhot, cursor->height - cursor->yhot};
    // Xlib hands each 32-bit pixel in an unsigned long.
    image_.argb.assign(cursor->pixels, cursor->pixels + std::size_t{cursor->width} * cursor->height);
    imageSerial_ = cursor->cursor_serial;
    XFree(cursor);
}

bool X11PointerWatch::changed() {
    if (connection_->lost()) return false;
    Display* display = connection_->display();
    const X11ErrorTrap trap(*connection_);
    bool newImage = false;
    while (!connection_->lost() && XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == fixesEventBase_ + XFixesCursorNotify) newImage = true;
    }
    if (newImage) readImage();
    Window root = 0, child = 0;
    int x = 0, y = 0, windowX = 0, windowY = 0;
    unsigned int mask = 0;
    if (XQueryPointer(display, DefaultRootWindow(display), &root, &child, &x, &y, &windowX, &windowY, &mask) &&
        !trap.failed())
        place_ = movedBy(image_.place, x, y);
    return place_ != drawn_.place || imageSerial_ != drawnSerial_;
}

std::vector<platform::Rect> X11PointerWatch::take() {
    if (place_ == drawn_.place && imageSerial_ == drawnSerial_) return {};
    std::vector<platform::Rect> redraw{drawn_.place, place_};
    drawn_ = {place_, image_.argb};
    drawnSerial_ = imageSerial_;
    return redraw;
}

}  // namespace native_worker::engine::gstreamer
