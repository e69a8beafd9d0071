#include "engine/gstreamer/capture/changed_parts.h"

#include <algorithm>

namespace native_worker::engine::gstreamer {
namespace {

constexpr std::int32_t block = 16;
constexpr std::size_t mostParts = 8;

std::int32_t down(std::int32_t value) {
    return value / block * block;
}

std::int32_t up(std::int32_t value) {
    return (value + block - 1) / block * block;
}

}  // namespace

std::vector<platform::Rect> changedParts(const std::vector<platform::Rect>& changes, const platform::Rect& area) {
    const std::int32_t width = area.right - area.left;
    const std::int32_t height = area.bottom - area.top;
    std::vector<platform::Rect> parts;
    for (const auto& change : changes) {
        const platform::Rect part{std::max(0, down(change.left - area.left)), std::max(0, down(change.top - area.top)),
                                  std::min(width, up(change.right - area.left)),
                                  std::min(height, up(change.bottom - area.top))};
        if (part.left < part.right && part.top < part.bottom) parts.push_back(part);
    }
    if (parts.size() <= mostParts) return parts;
    platform::Rect around = parts.front();
    for (const auto& part : parts)
        around = {std::min(around.left, part.left), std::min(around.top, part.top), std::max(around.right, part.right),
                  std::max(around.bottom, part.bottom)};
    return {around};
}

}  // namespace native_worker::engine::gstreamer
