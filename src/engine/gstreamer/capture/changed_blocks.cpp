#include "engine/gstreamer/capture/changed_blocks.h"

#include <algorithm>
#include <cstring>

namespace native_worker::engine::gstreamer {
namespace {

constexpr std::int32_t block = 16;
constexpr std::int32_t bytesPerPixel = 4;

bool rowsDiffer(const std::uint8_t* before, const std::uint8_t* now, std::int32_t stride, std::int32_t top,
                std::int32_t bottom, std::int32_t left, std::int32_t right) {
    const std::size_t offset = static_cast<std::size_t>(left) * bytesPerPixel;
    const std::size_t length = static_cast<std::size_t>(right - left) * bytesPerPixel;
    for (std::int32_t y = top; y < bottom; ++y) {
        const std::size_t row = static_cast<std::size_t>(y) * static_cast<std::size_t>(stride) + offset;
        if (std::memcmp(before + row, now + row, length) != 0) return true;
    }
    return false;
}

}  // namespace

std::vector<platform::Rect> changedBlocks(const std::uint8_t* before, const std::uint8_t* now, std::int32_t width,
                                          std::int32_t height, std::int32_t stride) {
    std::vector<platform::Rect> changed;
    for (std::int32_t top = 0; top < height; top += block) {
        const std::int32_t bottom = std::min(height, top + block);
        // Most of a quiet screen is skipped a whole block row at a time.
        if (!rowsDiffer(before, now, stride, top, bottom, 0, width)) continue;
        std::int32_t runStart = -1;
        for (std::int32_t left = 0; left < width + block; left += block) {
            const bool differs =
                left < width && rowsDiffer(before, now, stride, top, bottom, left, std::min(width, left + block));
            if (differs && runStart < 0) runStart = left;
            if (differs || runStart < 0) continue;
            const platform::Rect run{runStart, top, std::min(width, left), bottom};
            runStart = -1;
            // The same run in the block row above grows down instead.
            const auto above = std::find_if(changed.begin(), changed.end(), [&](const platform::Rect& rect) {
                return rect.left == run.left && rect.right == run.right && rect.bottom == top;
            });
            if (above != changed.end())
                above->bottom = bottom;
            else
                changed.push_back(run);
        }
    }
    return changed;
}

}  // namespace native_worker::engine::gstreamer
