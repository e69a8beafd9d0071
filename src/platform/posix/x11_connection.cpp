#include "platform/posix/x11_connection.h"

#include <mutex>

namespace native_worker::platform {
namespace {

// Xlib's default handler ends the process; a quiet one leaves that to the
// connection's exit handler, which still ends it for connections other than
// these, as before.
int quietIoError(Display*) {
    return 0;
}

}  // namespace

std::unique_ptr<X11Connection> X11Connection::open() {
    Display* display = XOpenDisplay(nullptr);
    if (!display) return nullptr;
    static std::once_flag installed;
    std::call_once(installed, [] { XSetIOErrorHandler(quietIoError); });
    return std::unique_ptr<X11Connection>(new X11Connection(display));
}

X11Connection::X11Connection(Display* display) : display_(display) {
    XSetIOErrorExitHandler(
        display_, [](Display*, void* self) { static_cast<X11Connection*>(self)->lost_ = true; }, this);
}

X11Connection::~X11Connection() {
    XCloseDisplay(display_);
}

}  // namespace native_worker::platform
