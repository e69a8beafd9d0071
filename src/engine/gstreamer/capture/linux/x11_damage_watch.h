#pragma once

#include "platform/display_services.h"
#include "platform/posix/x11_connection.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xdamage.h>

#include <memory>
#include <vector>

namespace native_worker::engine::gstreamer {

// What changed on the screen, as the X server reports it through the DAMAGE
// extension on a connection that one thread uses. The server sends one
// report when the screen stops being unchanged; the changed region then
// grows without more traffic until take() collects and clears it.
class X11DamageWatch {
public:
    // Null when the server lacks DAMAGE or XFixes (whose regions carry it).
    static std::unique_ptr<X11DamageWatch> create(const platform::X11Connection& connection);
    ~X11DamageWatch();
    X11DamageWatch(const X11DamageWatch&) = delete;
    X11DamageWatch& operator=(const X11DamageWatch&) = delete;

    // Reads what the server sent; whether the screen changed since the last take().
    bool changed();
    // The changed rectangles of the root window since the last take(), which
    // then starts afresh. Empty when the server refused or went away.
    std::vector<platform::Rect> take();

private:
    X11DamageWatch(const platform::X11Connection& connection, int eventBase, Damage damage, XserverRegion region);

    const platform::X11Connection& connection_;
    const int eventBase_;
    const Damage damage_;
    const XserverRegion region_;
    bool changed_ = false;
};

}  // namespace native_worker::engine::gstreamer
