#pragma once

#include "platform/display_services.h"

#include <mutex>
#include <vector>

namespace native_worker::scripted {

// Display services over a monitor list the test sets; by default one
// 1920x1080 primary monitor at 0,0 named \\.\DISPLAY1.
class ScriptedDisplays final : public platform::DisplayServices {
public:
    ScriptedDisplays();

    void enableDpiAwareness() override {}
    std::vector<platform::Monitor> monitors() override;
    std::optional<platform::Monitor> monitorInfo(std::uint64_t handle) override;
    platform::Rect virtualScreen() override;

    // The virtual screen follows as the bounding box of the monitors.
    void setMonitors(std::vector<platform::Monitor> monitors);

private:
    std::mutex mutex_;
    std::vector<platform::Monitor> monitors_;
};

}  // namespace native_worker::scripted
