#pragma once

#include "platform/display_services.h"

#include <cstdint>
#include <vector>

namespace native_worker::engine::gstreamer {

// Where a picture differs from the one before it, for a platform that does
// not report changes: the 16-pixel blocks with any pixel changed, as
// rectangles of the picture (clipped to it). Neighbouring changed blocks of a
// block row form one rectangle, and equal ones in consecutive block rows
// join. Both pictures have 32-bit pixels and the same size and stride.
std::vector<platform::Rect> changedBlocks(const std::uint8_t* before, const std::uint8_t* now, std::int32_t width,
                                          std::int32_t height, std::int32_t stride);

}  // namespace native_worker::engine::gstreamer
