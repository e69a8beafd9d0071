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
    // Requests not yet answered may be lost: whoever needs them done syncs
    // first. Closing itself never waits on the server.
    ~X11Connection();
    X11Connection(const X11Connection&) = delete;
    X11Connection& operator=(const X11Connection&) = delete;

    Display* display() const { return display_; }
    // The server went away; every later request on the connection fails.
    bool lost() const { return lost_; }
    // Any thread: a call waiting on the server fails at once, and so does
    // every later one, as if the server had gone away.
    void cutOff() const;

private:
    friend class X11ServerGrab;
    explicit X11Connection(Display* display);

    Display* display_;
    const int socket_;
    bool lost_ = false;
    int grabs_ = 0;
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

// While it exists, no other client's request is carried out. Grabs nest:
// the server is released when the outermost one ends.
class X11ServerGrab {
public:
    explicit X11ServerGrab(X11Connection& connection);
    ~X11ServerGrab();
    X11ServerGrab(const X11ServerGrab&) = delete;
    X11ServerGrab& operator=(const X11ServerGrab&) = delete;

private:
    X11Connection& connection_;
};

}  // namespace native_worker::platform
