#include "platform/display_services.h"
#include "platform/posix/x11_connection.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

namespace native_worker::platform {
namespace {

// RandR monitors of the X display named by DISPLAY: handle = 1-based index,
// device name "\\.\DISPLAY<n>", the root window as the virtual desktop.
class X11DisplayServices final : public DisplayServices {
public:
    // X11 coordinates are already physical pixels.
    void enableDpiAwareness() override {}

    std::vector<Monitor> monitors() override {
        std::vector<Monitor> result;
        Display* display = connect();
        if (!display) return result;
        int count = 0;
        XRRMonitorInfo* info = XRRGetMonitors(display, DefaultRootWindow(display), True, &count);
        if (dropIfLost() || !info) return result;
        for (int i = 0; i < count; ++i) {
            Monitor monitor;
            monitor.handle = static_cast<std::uint64_t>(i) + 1;
            monitor.rect = {info[i].x, info[i].y, info[i].x + info[i].width, info[i].y + info[i].height};
            monitor.primary = info[i].primary != 0;
            monitor.deviceName = "\\\\.\\DISPLAY" + std::to_string(i + 1);
            result.push_back(std::move(monitor));
        }
        XRRFreeMonitors(info);
        // RandR may flag no monitor as primary; the first one then is.
        bool anyPrimary = false;
        for (const auto& monitor : result) anyPrimary = anyPrimary || monitor.primary;
        if (!anyPrimary && !result.empty()) result.front().primary = true;
        return result;
    }

    std::optional<Monitor> monitorInfo(std::uint64_t handle) override {
        for (auto& monitor : monitors())
            if (monitor.handle == handle) return monitor;
        return std::nullopt;
    }

    // Read from the server each time: the cached screen size would not show a resize.
    Rect virtualScreen() override {
        Display* display = connect();
        if (!display) return {};
        XWindowAttributes root{};
        const Status status = XGetWindowAttributes(display, DefaultRootWindow(display), &root);
        if (dropIfLost() || status == 0) return {};
        return {0, 0, root.width, root.height};
    }

private:
    // The connection survives its server; a lost one is dropped and opened again later.
    Display* connect() {
        if (!connection_) connection_ = X11Connection::open();
        return connection_ ? connection_->display() : nullptr;
    }

    bool dropIfLost() {
        if (!connection_->lost()) return false;
        connection_.reset();
        return true;
    }

    std::unique_ptr<X11Connection> connection_;
};

}  // namespace

std::unique_ptr<DisplayServices> createSystemDisplayServices() {
    return std::make_unique<X11DisplayServices>();
}

}  // namespace native_worker::platform
