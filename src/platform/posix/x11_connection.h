#pragma once

#include <X11/Xlib.h>

#include <memory>

namespace native_worker::platform {

// A connection to the X display named by DISPLAY that outlives its server:
// by default Xlib ends the process when the server goes away, while a
// worker must only see the input it sends refused.
class X11Connection {
public:
    // Empty when the display cannot be opened.
    static std::unique_ptr<X11Connection> open();
    ~X11Connection();
    X11Connection(const X11Connection&) = delete;
    X11Connection& operator=(const X11Connection&) = delete;

    Display* display() const { return display_; }
    // The server went away; every later request on the connection fails.
    bool lost() const { return lost_; }

private:
    explicit X11Connection(Display* display);

    Display* display_;
    bool lost_ = false;
};

// While it exists, protocol errors of the connection's requests on this
// thread are recorded instead of ending the process, Xlib's default. Errors
// of other connections and threads go to the handler that was there before.
// Traps nest: an inner trap records its own errors, and the outer one is
// back in force once the inner one ends.
class X11ErrorTrap {
public:
    explicit X11ErrorTrap(const X11Connection& connection);
    ~X11ErrorTrap();
    X11ErrorTrap(const X11ErrorTrap&) = delete;
    X11ErrorTrap& operator=(const X11ErrorTrap&) = delete;

    // Call after a round trip (XSync or a request with a reply): errors
    // arrive only with the server's answers.
    bool failed() const;

private:
    Display* outerDisplay_;
    bool outerFailed_;
};

}  // namespace native_worker::platform
