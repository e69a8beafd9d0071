#include "platform/display_services.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

namespace native_worker::platform {
namespace {

// RandR monitors of the X display named by DISPLAY: handle = 1-based index,
// device name "\\.\DISPLAY<n>", the root window as the virtual desktop.
class X11DisplayServices final : public DisplayServices {
public:
    ~X11DisplayServices() override {
        if (display_) XCloseDisplay(display_);
    }

    // X11 coordinates are already physical pixels.
    void enableDpiAwareness() override {}

    std::vector<Monitor> monitors() override {
        std::vector<Monitor> result;
        if (!connect()) return result;
        int count = 0;
        XRRMonitorInfo* info = XRRGetMonitors(display_, DefaultRootWindow(display_), True, &count);
        if (!info) return result;
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

    Rect virtualScreen() override {
        if (!connect()) return {};
        const Screen* screen = DefaultScreenOfDisplay(display_);
        return {0, 0, WidthOfScreen(screen), HeightOfScreen(screen)};
    }

private:
    bool connect() {
        if (!display_) display_ = XOpenDisplay(nullptr);
        return display_ != nullptr;
    }

    Display* display_ = nullptr;
};

}  // namespace

std::unique_ptr<DisplayServices> createSystemDisplayServices() {
    return std::make_unique<X11DisplayServices>();
}

}  // namespace native_worker::platform
