#include "engine/gstreamer/desktop_device.h"

#include "engine/gstreamer/capture/screen_capturer.h"

namespace native_worker::engine::gstreamer {

std::int32_t ScreenSourceList::refresh(bool, bool) {
    std::vector<std::shared_ptr<ScreenSource>> sources;
    std::int32_t number = 0;
    for (const auto& monitor : displays_.monitors())
        sources.push_back(std::make_shared<ScreenSource>(std::to_string(++number), monitor.rect));
    std::lock_guard lock(mutex_);
    sources_ = std::move(sources);
    return static_cast<std::int32_t>(sources_.size());
}

std::int32_t ScreenSourceList::count() const {
    std::lock_guard lock(mutex_);
    return static_cast<std::int32_t>(sources_.size());
}

std::shared_ptr<MediaSource> ScreenSourceList::source(std::int32_t index) {
    std::lock_guard lock(mutex_);
    if (index < 0 || static_cast<std::size_t>(index) >= sources_.size()) return nullptr;
    return sources_[static_cast<std::size_t>(index)];
}

std::shared_ptr<SourceList> ScreenDevice::screenSources() {
    return std::make_shared<ScreenSourceList>(displays_);
}

std::shared_ptr<DesktopCapturer> ScreenDevice::createCapturer(const std::shared_ptr<MediaSource>& source, bool) {
    const auto screen = std::dynamic_pointer_cast<ScreenSource>(source);
    if (!screen) return nullptr;
    auto capturer = std::make_shared<ScreenCapturer>(screen->area());
    if (onCreated_) onCreated_(capturer);
    return capturer;
}

}  // namespace native_worker::engine::gstreamer
