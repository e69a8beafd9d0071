#include "media/frame_counter.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

namespace native_worker {
namespace {

// Bitwise reference CRC-32 (reflected, 0xEDB88320), independent of the library in use.
std::uint32_t referenceCrc(const std::vector<std::uint8_t>& bytes) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::uint8_t byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

TEST(FrameCounterCrc, OddSizedFrameCoversYThenUThenV) {
    const std::array<std::uint8_t, 9> y{1, 2, 3, 4, 5, 6, 7, 8, 9};
    const std::array<std::uint8_t, 4> u{10, 11, 12, 13};
    const std::array<std::uint8_t, 4> v{20, 21, 22, 23};
    const engine::VideoFrame frame{3, 3, y.data(), u.data(), v.data(), 3, 2, 2};
    std::vector<std::uint8_t> all(y.begin(), y.end());
    all.insert(all.end(), u.begin(), u.end());
    all.insert(all.end(), v.begin(), v.end());
    EXPECT_EQ(i420Crc32(frame), referenceCrc(all));
    EXPECT_EQ(referenceCrc({'1', '2', '3', '4', '5', '6', '7', '8', '9'}), 0xCBF43926u);
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
    EXPECT_EQ(counter.lastCrc32(), i420Crc32(frame));
}

}  // namespace
}  // namespace native_worker
