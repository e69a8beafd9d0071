#include "platform/display_services.h"
#include "platform/posix/x11_desktop_watch.h"

namespace native_worker::platform {
namespace {

// The RandR monitors and the root window of the X display named by DISPLAY,
// as the desktop watch last read them.
class X11DisplayServices final : public DisplayServices {
public:
    // X11 coordinates are already physical pixels.
    void enableDpiAwareness() override {}

    std::vector<Monitor> monitors() override { return watch_->monitors(); }

    std::optional<Monitor> monitorInfo(std::uint64_t handle) override {
        for (auto& monitor : monitors())
            if (monitor.handle == handle) return monitor;
        return std::nullopt;
    }

    Rect virtualScreen() override { return watch_->virtualScreen(); }

private:
    std::shared_ptr<X11DesktopWatch> watch_ = X11DesktopWatch::shared();
};

}  // namespace

std::unique_ptr<DisplayServices> createSystemDisplayServices() {
    return std::make_unique<X11DisplayServices>();
}

}  // namespace native_worker::platform
