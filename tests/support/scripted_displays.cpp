#include "scripted_displays.h"

#include <algorithm>

namespace native_worker::scripted {

ScriptedDisplays::ScriptedDisplays() {
    monitors_.push_back({1, {0, 0, 1920, 1080}, true, "\\\\.\\DISPLAY1"});
}

std::vector<platform::Monitor> ScriptedDisplays::monitors() {
    std::lock_guard lock(mutex_);
    return monitors_;
}

std::optional<platform::Monitor> ScriptedDisplays::monitorInfo(std::uint64_t handle) {
    std::lock_guard lock(mutex_);
    for (const auto& monitor : monitors_)
        if (monitor.handle == handle) return monitor;
    return std::nullopt;
}

platform::Rect ScriptedDisplays::virtualScreen() {
    std::lock_guard lock(mutex_);
    if (monitors_.empty()) return {};
    platform::Rect box = monitors_.front().rect;
    for (const auto& monitor : monitors_) {
        box.left = std::min(box.left, monitor.rect.left);
        box.top = std::min(box.top, monitor.rect.top);
        box.right = std::max(box.right, monitor.rect.right);
        box.bottom = std::max(box.bottom, monitor.rect.bottom);
    }
    return box;
}

void ScriptedDisplays::setMonitors(std::vector<platform::Monitor> monitors) {
    std::lock_guard lock(mutex_);
    monitors_ = std::move(monitors);
}

}  // namespace native_worker::scripted
