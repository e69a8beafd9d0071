#include "media/frame_counter.h"

#include <gtest/gtest.h>

#include <array>

namespace native_worker {
namespace {

TEST(FrameCounterCrc, OddSizedFrameCoversYThenUThenV) {
    const std::array<std::uint8_t, 9> y{1, 2, 3, 4, 5, 6, 7, 8, 9};
    const std::array<std::uint8_t, 4> u{10, 11, 12, 13};
    const std::array<std::uint8_t, 4> v{20, 21, 22, 23};
    const engine::VideoFrame frame{3, 3, y.data(), u.data(), v.data(), 3, 2, 2};
    // The CRC-32 of the bytes 1 to 13 followed by 20 to 23.
    EXPECT_EQ(i420Crc32(frame), 0xE32DD29Bu);
}

TEST(FrameCounterCrc, StridePaddingIsNeverIncluded) {
    const std::array<std::uint8_t, 9> packedY{1, 2, 3, 4, 5, 6, 7, 8, 9};
    const std::array<std::uint8_t, 15> paddedY{1, 2, 3, 99, 99, 4, 5, 6, 99, 99, 7, 8, 9, 99, 99};
    const std::array<std::uint8_t, 4> packedU{10, 11, 12, 13};
    const std::array<std::uint8_t, 8> paddedU{10, 11, 77, 77, 12, 13, 77, 77};
    const engine::VideoFrame packed{3, 3, packedY.data(), packedU.data(), packedU.data(), 3, 2, 2};
    const engine::VideoFrame padded{3, 3, paddedY.data(), paddedU.data(), paddedU.data(), 5, 4, 4};
    EXPECT_EQ(i420Crc32(packed), i420Crc32(padded));
}

TEST(FrameCounterCounting, EmptyFramesAreIgnored) {
    FrameCounter counter;
    const std::array<std::uint8_t, 4> plane{1, 2, 3, 4};
    counter.onFrame(nullptr);
    const engine::VideoFrame noWidth{0, 2, plane.data(), plane.data(), plane.data(), 2, 1, 1};
    const engine::VideoFrame negative{2, -2, plane.data(), plane.data(), plane.data(), 2, 1, 1};
    counter.onFrame(&noWidth);
    counter.onFrame(&negative);
    EXPECT_EQ(counter.frames(), 0u);
    EXPECT_EQ(counter.lastCrc32(), 0u);
    const engine::VideoFrame frame{2, 2, plane.data(), plane.data(), plane.data(), 2, 1, 1};
    counter.onFrame(&frame);
    counter.onFrame(&frame);
    EXPECT_EQ(counter.frames(), 2u);
    EXPECT_EQ(counter.lastCrc32(), 0x7BFE2783u);  // of the bytes 1, 2, 3, 4, 1, 1
}

}  // namespace
}  // namespace native_worker
