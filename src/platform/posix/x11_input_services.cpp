#include "platform/input_services.h"

#include "platform/posix/x11_connection.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace native_worker::platform {
namespace {

// The input desktop is the X display named by DISPLAY with the XTEST
// extension. One connection is kept and checked with a round trip on every
// question, and opened again once the server behind it went away.
class X11InputServices final : public InputServices {
public:
    bool inputDesktopAvailable() override {
        if (!connect()) return false;
        XSync(connection_->display(), False);
        return !dropIfLost() && hasXTest_;
    }

    std::optional<CursorPosition> cursorPosition() override {
        if (!connect()) return std::nullopt;
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
        if (dropIfLost() || !onThisScreen) return std::nullopt;
        return CursorPosition{static_cast<double>(rootX), static_cast<double>(rootY)};
    }

private:
    bool connect() {
        if (connection_) return true;
        connection_ = X11Connection::open();
        if (!connection_) return false;
        int event = 0;
        int error = 0;
        int major = 0;
        int minor = 0;
        hasXTest_ = XTestQueryExtension(connection_->display(), &event, &error, &major, &minor) != False;
        return true;
    }

    bool dropIfLost() {
        if (!connection_->lost()) return false;
        connection_.reset();
        return true;
    }

    std::unique_ptr<X11Connection> connection_;
    bool hasXTest_ = false;
};

}  // namespace

std::unique_ptr<InputServices> createSystemInputServices() {
    return std::make_unique<X11InputServices>();
}

}  // namespace native_worker::platform
