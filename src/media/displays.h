#pragma once

#include "media/engine.h"
#include "platform/display_services.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>

namespace native_worker {

struct DisplayTarget {
    std::string id;
    double frameX = 0;
    double frameY = 0;
    double frameWidth = 0;
    double frameHeight = 0;
    double pixelWidth = 0;
    double pixelHeight = 0;
};

struct VirtualScreen {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
};

struct CaptureTarget {
    DisplayTarget display;
    VirtualScreen desktop;
};

// Resolves an engine source id ("0", "1".."64", a handle, or a device name) to a monitor handle.
std::optional<std::uint64_t> resolveMonitor(platform::DisplayServices& displays, const std::string& id);

struct DisplayList {
    nlohmann::json entries = nlohmann::json::array();
    std::uint64_t capturedMonitor = 0;  // 0 when source 0 did not resolve
};

// The display entries announced for a screen source list. Throws ProtocolError
// "capture_unavailable" when no entry can be built.
DisplayList buildDisplayList(platform::DisplayServices& displays, engine::SourceList* sources);

// The captured display and the whole desktop. Throws "capture_unavailable" for empty rectangles.
CaptureTarget recordCaptureTarget(platform::DisplayServices& displays, const std::string& sourceId,
                                  std::uint64_t capturedMonitor);

}  // namespace native_worker
