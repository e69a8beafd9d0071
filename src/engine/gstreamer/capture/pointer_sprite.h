#pragma once

#include "platform/display_services.h"

#include <gst/video/video.h>

#include <cstdint>
#include <vector>

namespace native_worker::engine::gstreamer {

// The pointer as the capture draws it into the picture, as screen sharing
// shows it: its image, premultiplied 0xAARRGGBB pixels row by row, and the
// rectangle it covers, in the same coordinates as the pixels it is drawn on.
struct PointerSprite {
    platform::Rect place;
    std::vector<std::uint32_t> argb;

    bool operator==(const PointerSprite&) const = default;
};

// Draws the part of `sprite` that falls inside `part` over `pixels`, which
// hold `part` in a 32-bit RGB `format`, rows `stride` bytes apart.
void drawPointer(const PointerSprite& sprite, std::uint8_t* pixels, std::int32_t stride, const platform::Rect& part,
                 GstVideoFormat format);

}  // namespace native_worker::engine::gstreamer
