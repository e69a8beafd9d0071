#include "platform/input_services.h"

#include "platform/posix/x11_connection.h"
#include "platform/posix/x11_desktop_watch.h"

#include <X11/Xlib.h>

namespace native_worker::platform {
namespace {

// The input desktop is the X display named by DISPLAY with the XTEST
// extension, as the desktop watch last saw it. The cursor is asked of the
// server on a connection of its own, opened again once the server behind it
// went away.
class X11InputServices final : public InputServices {
public:
    bool inputDesktopAvailable() override {
        if (!watch_) watch_ = X11DesktopWatch::shared();
        return watch_->inputDesktopAvailable();
    }

    std::optional<CursorPosition> cursorPosition() override {
        if (!connection_) connection_ = X11Connection::open();
        if (!connection_) return std::nullopt;
        Window root = 0;
        Window child = 0;
        int rootX = 0;
        int rootY = 0;
        int windowX = 0;
        int windowY = 0;
        unsigned int buttons = 0;
        Display* display = connection_->display();
        const Bool onThisScreen = XQueryPointer(display, DefaultRootWindow(display), &root, &child, &rootX, &rootY,
                                                &windowX, &windowY, &buttons);
        if (connection_->lost()) connection_.reset();
        if (!connection_ || !onThisScreen) return std::nullopt;
        return CursorPosition{static_cast<double>(rootX), static_cast<double>(rootY)};
    }

private:
    // Asked for at the first question: a user that only reads the cursor needs no watch.
    std::shared_ptr<X11DesktopWatch> watch_;
    std::unique_ptr<X11Connection> connection_;
};

}  // namespace

std::unique_ptr<InputServices> createSystemInputServices() {
    return std::make_unique<X11InputServices>();
}

}  // namespace native_worker::platform
