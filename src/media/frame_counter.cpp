#include "media/frame_counter.h"

#include <zlib.h>

namespace native_worker {
namespace {

uLong planeCrc(uLong crc, const std::uint8_t* plane, std::int32_t stride, std::int32_t rowBytes, std::int32_t rows) {
    for (std::int32_t row = 0; row < rows; ++row)
        crc = crc32(crc, plane + static_cast<std::ptrdiff_t>(row) * stride, static_cast<uInt>(rowBytes));
    return crc;
}

}  // namespace

std::uint32_t i420Crc32(const engine::VideoFrame& frame) {
    const std::int32_t chromaWidth = (frame.width + 1) / 2;
    const std::int32_t chromaHeight = (frame.height + 1) / 2;
    uLong crc = crc32(0L, Z_NULL, 0);
    crc = planeCrc(crc, frame.dataY, frame.strideY, frame.width, frame.height);
    crc = planeCrc(crc, frame.dataU, frame.strideU, chromaWidth, chromaHeight);
    crc = planeCrc(crc, frame.dataV, frame.strideV, chromaWidth, chromaHeight);
    return static_cast<std::uint32_t>(crc);
}

void FrameCounter::onFrame(const engine::VideoFrame* frame) {
    if (frame == nullptr || frame->width <= 0 || frame->height <= 0) return;
    lastCrc32_.store(i420Crc32(*frame));
    frames_.fetch_add(1);
}

}  // namespace native_worker
