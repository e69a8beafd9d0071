#include "engine/gstreamer/capture/pointer_sprite.h"

#include <algorithm>

namespace native_worker::engine::gstreamer {

void drawPointer(const PointerSprite& sprite, std::uint8_t* pixels, std::int32_t stride, const platform::Rect& part,
                 GstVideoFormat format) {
    const platform::Rect& place = sprite.place;
    const std::int32_t width = place.right - place.left;
    if (width <= 0 || sprite.argb.size() != static_cast<std::size_t>(width) * (place.bottom - place.top)) return;
    const GstVideoFormatInfo* info = gst_video_format_get_info(format);
    // Where red, green and blue lie in a pixel's four bytes.
    const std::uint32_t offsets[3] = {GST_VIDEO_FORMAT_INFO_POFFSET(info, 0), GST_VIDEO_FORMAT_INFO_POFFSET(info, 1),
                                      GST_VIDEO_FORMAT_INFO_POFFSET(info, 2)};
    const std::int32_t left = std::max(place.left, part.left);
    const std::int32_t right = std::min(place.right, part.right);
    for (std::int32_t y = std::max(place.top, part.top); y < std::min(place.bottom, part.bottom); ++y) {
        const std::uint32_t* source = sprite.argb.data() + static_cast<std::size_t>(y - place.top) * width;
        std::uint8_t* row = pixels + static_cast<std::ptrdiff_t>(y - part.top) * stride;
        for (std::int32_t x = left; x < right; ++x) {
            const std::uint32_t colour = source[x - place.left];
            const std::uint32_t keep = 255 - (colour >> 24);
            std::uint8_t* pixel = row + static_cast<std::ptrdiff_t>(x - part.left) * 4;
            for (int channel = 0; channel < 3; ++channel) {
                const std::uint32_t value = (colour >> (16 - 8 * channel)) & 0xff;
                std::uint8_t& target = pixel[offsets[channel]];
                target = static_cast<std::uint8_t>(std::min<std::uint32_t>(255, value + (target * keep + 127) / 255));
            }
        }
    }
}

}  // namespace native_worker::engine::gstreamer
