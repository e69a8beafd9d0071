#include "engine/gstreamer/capture/linux/x11_damage_watch.h"

#include <X11/extensions/Xfixes.h>

namespace native_worker::engine::gstreamer {

using platform::X11ErrorTrap;

std::unique_ptr<X11DamageWatch> X11DamageWatch::create(const platform::X11Connection& connection) {
    Display* display = connection.display();
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    if (!XDamageQueryExtension(display, &eventBase, &errorBase) || !XDamageQueryVersion(display, &major, &minor) ||
        !XFixesQueryExtension(display, &major, &minor) || !XFixesQueryVersion(display, &major, &minor) || major < 2)
        return nullptr;
    const X11ErrorTrap trap(connection);
    const Damage damage = XDamageCreate(display, DefaultRootWindow(display), XDamageReportNonEmpty);
    const XserverRegion region = XFixesCreateRegion(display, nullptr, 0);
    XSync(display, False);
    if (trap.failed() || connection.lost()) return nullptr;
    return std::unique_ptr<X11DamageWatch>(new X11DamageWatch(connection, eventBase, damage, region));
}

X11DamageWatch::X11DamageWatch(const platform::X11Connection& connection, int eventBase, Damage damage,
                               XserverRegion region)
    : connection_(connection), eventBase_(eventBase), damage_(damage), region_(region) {}

X11DamageWatch::~X11DamageWatch() {
    if (connection_.lost()) return;
    const X11ErrorTrap trap(connection_);
    XFixesDestroyRegion(connection_.display(), region_);
    XDamageDestroy(connection_.display(), damage_);
    XSync(connection_.display(), False);
}

bool X11DamageWatch::changed() {
    Display* display = connection_.display();
    const X11ErrorTrap trap(connection_);
    while (!connection_.lost() && XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == eventBase_ + XDamageNotify) changed_ = true;
    }
    return changed_;
}

std::vector<platform::Rect> X11DamageWatch::take() {
    changed_ = false;
    std::vector<platform::Rect> rects;
    if (connection_.lost()) return rects;
    Display* display = connection_.display();
    const X11ErrorTrap trap(connection_);
    // Collecting and clearing are one request: a change after it is reported anew.
    XDamageSubtract(display, damage_, None, region_);
    int count = 0;
    XRectangle* parts = XFixesFetchRegion(display, region_, &count);
    if (!parts) return rects;
    if (!trap.failed())
        for (int i = 0; i < count; ++i)
            rects.push_back({parts[i].x, parts[i].y, parts[i].x + parts[i].width, parts[i].y + parts[i].height});
    XFree(parts);
    return rects;
}

}  // namespace native_worker::engine::gstreamer
