#include "platform/posix/x11_connection.h"

#include <X11/extensions/XShm.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xdamage.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/Xrandr.h>

#include <mutex>
#include <sys/socket.h>

namespace native_worker::platform {
namespace {

// Xlib's default handler ends the process; a quiet one leaves that to the
// connection's exit handler, which still ends it for connections other than
// these, as before.
int quietIoError(Display*) {
    return 0;
}

// libXext keeps, for each extension, a list of the displays that use it, in
// statics it creates unguarded at an extension's first use; adding a display
// (its first use on that display) and removing it (closing the display) from
// two threads at once corrupts the heap. So every connection is given every
// extension this process uses, and closed, under one lock. Opening is not:
// a server that does not answer would hold every other connection up.
std::mutex& extensionLists() {
    static std::mutex lists;
    return lists;
}

void joinExtensionLists(Display* display) {
    int event = 0;
    int error = 0;
    int major = 0;
    int minor = 0;
    XTestQueryExtension(display, &event, &error, &major, &minor);
    XRRQueryExtension(display, &event, &error);
    XShmQueryExtension(display);
    // The screen capture's.
    XDamageQueryExtension(display, &event, &error);
    XFixesQueryExtension(display, &event, &error);
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
    static std::once_flag installed;
    std::call_once(installed, [] { XSetIOErrorHandler(quietIoError); });
    Display* display = XOpenDisplay(nullptr);
    if (!display) return nullptr;
    auto connection = std::unique_ptr<X11Connection>(new X11Connection(display));
    std::lock_guard lock(extensionLists());
    joinExtensionLists(display);
    return connection;
}

// Xlib leaves a display whose server went away locked by the thread that
// found out, as if that thread were about to end the process: any other
// thread, the one that closes the connection included, would wait on it for
// good.
X11Connection::X11Connection(Display* display) : display_(display), socket_(ConnectionNumber(display)) {
    XSetIOErrorExitHandler(
        display_,
        [](Display* lostDisplay, void* self) {
            static_cast<X11Connection*>(self)->lost_ = true;
            XUnlockDisplay(lostDisplay);
        },
        this);
}

// XCloseDisplay syncs with the server: with the socket shut that fails at
// once, so the lock is never held while a server that stalled is waited for.
X11Connection::~X11Connection() {
    cutOff();
    std::lock_guard lock(extensionLists());
    XCloseDisplay(display_);
}

void X11Connection::cutOff() const {
    shutdown(socket_, SHUT_RDWR);
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

X11ServerGrab::X11ServerGrab(X11Connection& connection) : connection_(connection) {
    if (connection_.grabs_++ == 0) XGrabServer(connection_.display());
}

X11ServerGrab::~X11ServerGrab() {
    if (--connection_.grabs_ != 0) return;
    XUngrabServer(connection_.display());
    // Other clients wait until the server reads the release.
    XFlush(connection_.display());
}

}  // namespace native_worker::platform
