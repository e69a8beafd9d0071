#pragma once

#include "media/engine.h"

#include <atomic>
#include <cstdint>

namespace native_worker {

// Renderer that counts frames and keeps the CRC-32 of the last one, so a test
// can tell that real pictures arrived.
class FrameCounter final : public engine::VideoRenderer {
public:
    void onFrame(const engine::VideoFrame* frame) override;

    std::uint64_t frames() const { return frames_.load(); }
    std::uint32_t lastCrc32() const { return lastCrc32_.load(); }

private:
    std::atomic<std::uint64_t> frames_{0};
    std::atomic<std::uint32_t> lastCrc32_{0};
};

// CRC-32 of the visible bytes of the Y, U and V planes, rows read at their stride.
std::uint32_t i420Crc32(const engine::VideoFrame& frame);

}  // namespace native_worker
