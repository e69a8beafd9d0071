#pragma once

#include "media/engine.h"
#include "platform/display_services.h"

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace native_worker::engine::gstreamer {

// One monitor as a screen source; its id is the monitor's 1-based number.
class ScreenSource final : public MediaSource {
public:
    ScreenSource(std::string id, const platform::Rect& area) : id_(std::move(id)), area_(area) {}
    std::string id() const override { return id_; }
    const platform::Rect& area() const { return area_; }

private:
    std::string id_;
    platform::Rect area_;
};

// The monitors of the display services, in their order, as of the last refresh.
class ScreenSourceList final : public SourceList {
public:
    explicit ScreenSourceList(platform::DisplayServices& displays) : displays_(displays) {}

    std::int32_t refresh(bool forceReload, bool getThumbnail) override;
    std::int32_t count() const override;
    std::shared_ptr<MediaSource> source(std::int32_t index) override;

private:
    platform::DisplayServices& displays_;
    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<ScreenSource>> sources_;
};

class ScreenCapturer;

class ScreenDevice final : public DesktopDevice {
public:
    using CapturerCreated = std::function<void(const std::shared_ptr<ScreenCapturer>&)>;

    ScreenDevice(platform::DisplayServices& displays, CapturerCreated onCreated)
        : displays_(displays), onCreated_(std::move(onCreated)) {}

    std::shared_ptr<SourceList> screenSources() override;
    // Captures the source's monitor rectangle, without the pointer (the worker
    // never asks for it); null for a source of another engine.
    std::shared_ptr<DesktopCapturer> createCapturer(const std::shared_ptr<MediaSource>& source,
                                                    bool showCursor) override;

private:
    platform::DisplayServices& displays_;
    CapturerCreated onCreated_;
};

}  // namespace native_worker::engine::gstreamer
