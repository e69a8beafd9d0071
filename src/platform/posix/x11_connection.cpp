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

thread_local Display* trappedDisplay = nullptr;
thread_local bool trappedError = false;
XErrorHandler previousErrorHandler = nullptr;

int onProtocolError(Display* display, XErrorEvent* event) {
    if (display == trappedDisplay) {
        trappedError = true;
        return 0;
    }
    return previousErrorHandler ? previousErrorHandler(display, event) : 0;
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

X11ErrorTrap::X11ErrorTrap(const X11Connection& connection)
    : outerDisplay_(trappedDisplay), outerFailed_(trappedError) {
    static std::once_flag installed;
    std::call_once(installed, [] { previousErrorHandler = XSetErrorHandler(onProtocolError); });
    trappedDisplay = connection.display();
    trappedError = false;
}

X11ErrorTrap::~X11ErrorTrap() {
    trappedDisplay = outerDisplay_;
    trappedError = outerFailed_;
}

bool X11ErrorTrap::failed() const {
    return trappedError;
}

}  // namespace native_worker::platform
