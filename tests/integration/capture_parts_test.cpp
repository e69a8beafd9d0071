// The screen capture's own rules, without a display: when it grabs and
// resends, what it grabs, how the kept picture takes in the parts, and how
// the pointer is drawn into them.

#include "engine/gstreamer/capture/capture_schedule.h"
#include "engine/gstreamer/capture/changed_blocks.h"
#include "engine/gstreamer/capture/changed_parts.h"
#include "engine/gstreamer/capture/kept_frame.h"
#include "engine/gstreamer/capture/pointer_sprite.h"

#include <gst/gst.h>
#include <gst/video/video.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <random>
#include <utility>
#include <vector>

namespace native_worker::engine::gstreamer {
namespace {

using namespace std::chrono_literals;
using Step = CaptureSchedule::Step;
using Clock = CaptureSchedule::Clock;
using platform::Rect;

constexpr auto interval = 40ms;

// A schedule whose first grab has happened at `start`.
struct Started {
    Clock::time_point start = Clock::now();
    CaptureSchedule schedule{interval};
    Started() {
        EXPECT_EQ(schedule.step(start), Step::grab);
        schedule.grabbed(start, true);
    }
};

TEST(CaptureSchedule, AChangeAfterAQuietSpellIsGrabbedAtOnceAndGrabsKeepTheRate) {
    Started run;
    auto& schedule = run.schedule;
    EXPECT_EQ(schedule.step(run.start + 500ms), Step::wait);
    schedule.changed();
    EXPECT_EQ(schedule.step(run.start + 500ms), Step::grab);
    schedule.grabbed(run.start + 500ms, true);
    // A change right after a grab waits for the end of its interval.
    schedule.changed();
    EXPECT_EQ(schedule.step(run.start + 510ms), Step::wait);
    EXPECT_EQ(schedule.due(), run.start + 540ms);
    EXPECT_EQ(schedule.step(run.start + 540ms), Step::grab);
    // A grab that found nothing inside the area sends nothing, and counts as no change.
    schedule.grabbed(run.start + 540ms, false);
    EXPECT_EQ(schedule.due(), run.start + 1500ms);
}

TEST(CaptureSchedule, AQuietScreenResendsOnceASecondAndAnAskedForFrameAtOnce) {
    Started run;
    auto& schedule = run.schedule;
    EXPECT_EQ(schedule.step(run.start + 999ms), Step::wait);
    EXPECT_EQ(schedule.step(run.start + 1s), Step::resend);
    schedule.resent(run.start + 1s);
    EXPECT_EQ(schedule.due(), run.start + 2s);

    schedule.resendNow();
    const auto asked = run.start + 1200ms;
    EXPECT_EQ(schedule.step(asked), Step::resend);
    schedule.resent(asked);
    EXPECT_EQ(schedule.due(), asked + 1s);
}

// Each frame sent is judged on its own: an encoder's word on an earlier one
// does not carry over, and it is heeded at the capture rate only for a while
// after a change or an asked-for frame.
TEST(CaptureSchedule, APictureOfferedAgainGoesOutAtTheCaptureRateForAWhile) {
    Started run;
    auto& schedule = run.schedule;
    auto at = run.start;
    for (schedule.offerAgain(); schedule.due() == at + interval; schedule.offerAgain()) {
        at += interval;
        EXPECT_EQ(schedule.step(at), Step::resend);
        schedule.resent(at);
    }
    EXPECT_GT(at + interval, run.start + CaptureSchedule::longestSharpening);
    EXPECT_EQ(schedule.due(), at + 1s);

    at += 1s;
    schedule.resendNow();
    EXPECT_EQ(schedule.step(at), Step::resend);
    schedule.resent(at);
    schedule.offerAgain();
    EXPECT_EQ(schedule.due(), at + interval);
    schedule.resent(at + interval);
    EXPECT_EQ(schedule.due(), at + interval + 1s);
}

TEST(CaptureSchedule, NothingIsResentBeforeTheFirstGrab) {
    CaptureSchedule schedule(interval);
    schedule.resendNow();
    const auto now = Clock::now();
    EXPECT_EQ(schedule.step(now), Step::grab);
    schedule.grabbed(now, true);
    EXPECT_EQ(schedule.step(now), Step::resend);
}

TEST(ChangedParts, AreMovedIntoTheAreaClippedAndGrownToWholeBlocks) {
    const Rect area{100, 50, 100 + 640, 50 + 360};
    EXPECT_EQ(changedParts({{110, 60, 111, 61}}, area), (std::vector<Rect>{{0, 0, 16, 16}}));
    EXPECT_EQ(changedParts({{117, 67, 150, 82}}, area), (std::vector<Rect>{{16, 16, 64, 32}}));
    // Beyond the area: clipped, or dropped when nothing is left.
    EXPECT_EQ(changedParts({{0, 0, 105, 55}, {700, 400, 900, 500}}, area),
              (std::vector<Rect>{{0, 0, 16, 16}, {592, 336, 640, 360}}));
    EXPECT_TRUE(changedParts({{0, 0, 100, 500}, {740, 0, 800, 10}}, area).empty());
}

TEST(ChangedParts, ManySmallChangesBecomeTheRectangleAroundThem) {
    std::vector<Rect> changes;
    for (int i = 0; i < 9; ++i) changes.push_back({40 * i, 30 * i, 40 * i + 5, 30 * i + 5});
    EXPECT_EQ(changedParts(changes, {0, 0, 1000, 1000}), (std::vector<Rect>{{0, 0, 336, 256}}));
    changes.pop_back();
    EXPECT_EQ(changedParts(changes, {0, 0, 1000, 1000}).size(), 8U);
}

// A BGRx picture, rows padded beyond the width.
struct Picture {
    static constexpr int width = 320;
    static constexpr int height = 176;
    static constexpr int stride = width * 4 + 64;
    std::vector<std::uint8_t> pixels = std::vector<std::uint8_t>(stride * height);

    void scramble(const Rect& part, std::mt19937& random) {
        for (int y = part.top; y < part.bottom; ++y)
            for (int x = part.left * 4; x < part.right * 4; ++x)
                pixels[y * stride + x] = static_cast<std::uint8_t>(random());
    }
    // The part's pixels as a grab returns them: rows of its own width.
    std::vector<std::uint8_t> grab(const Rect& part) const {
        std::vector<std::uint8_t> copy;
        for (int y = part.top; y < part.bottom; ++y)
            copy.insert(copy.end(), pixels.begin() + y * stride + part.left * 4,
                        pixels.begin() + y * stride + part.right * 4);
        return copy;
    }
};

constexpr Rect whole{0, 0, Picture::width, Picture::height};

bool inside(const std::vector<Rect>& rects, int x, int y) {
    return std::any_of(rects.begin(), rects.end(), [&](const Rect& rect) {
        return x >= rect.left && x < rect.right && y >= rect.top && y < rect.bottom;
    });
}

TEST(ChangedBlocks, CoverEveryChangedPixelWithWholeBlocksAndJoinWhatTouches) {
    std::mt19937 random(11);
    Picture before;
    before.scramble(whole, random);
    Picture now = before;
    EXPECT_TRUE(changedBlocks(before.pixels.data(), now.pixels.data(), Picture::width, Picture::height, Picture::stride)
                    .empty());
    // One pixel in the last, partial column of blocks; a square of 3 x 3 blocks.
    now.pixels[40 * Picture::stride + 4 * (Picture::width - 1)] ^= 1;
    now.scramble({40, 70, 80, 100}, random);
    EXPECT_EQ(changedBlocks(before.pixels.data(), now.pixels.data(), Picture::width, Picture::height, Picture::stride),
              (std::vector<Rect>{{304, 32, 320, 48}, {32, 64, 80, 112}}));

    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        before = now;
        for (int i = 0; i < 4; ++i) {
            const int left = static_cast<int>(random() % Picture::width);
            const int top = static_cast<int>(random() % Picture::height);
            now.scramble({left, top, std::min(whole.right, left + 1 + static_cast<int>(random() % 50)),
                          std::min(whole.bottom, top + 1 + static_cast<int>(random() % 50))},
                         random);
        }
        const auto changed =
            changedBlocks(before.pixels.data(), now.pixels.data(), Picture::width, Picture::height, Picture::stride);
        for (int y = 0; y < Picture::height; ++y) {
            for (int x = 0; x < Picture::width; ++x) {
                const std::size_t at = static_cast<std::size_t>(y * Picture::stride + x * 4);
                if (std::memcmp(&before.pixels[at], &now.pixels[at], 4) != 0) {
                    ASSERT_TRUE(inside(changed, x, y)) << x << "," << y;
                }
            }
        }
        for (const Rect& rect : changed) {
            EXPECT_EQ(rect.left % 16, 0);
            EXPECT_EQ(rect.top % 16, 0);
            EXPECT_TRUE(rect.right % 16 == 0 || rect.right == Picture::width);
        }
    }
}

void keep(KeptFrame& frame, const Picture& picture, const Rect& part) {
    const Rect grabbed = frame.grabFor(part);
    frame.keep(part, grabbed, picture.grab(grabbed).data(), (grabbed.right - grabbed.left) * 4);
}

std::vector<std::uint8_t> bytesOf(GstSample* sample) {
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    GstMapInfo map;
    EXPECT_TRUE(gst_buffer_map(buffer, &map, GST_MAP_READ));
    std::vector<std::uint8_t> bytes(map.data, map.data + map.size);
    gst_buffer_unmap(buffer, &map);
    gst_sample_unref(sample);
    return bytes;
}

std::vector<std::uint8_t> wholeConversion(const Picture& picture) {
    KeptFrame frame(GST_VIDEO_FORMAT_BGRx, Picture::width, Picture::height, 30);
    keep(frame, picture, whole);
    return bytesOf(frame.sample());
}

TEST(KeptFrame, TakingInTheChangedPartsEqualsConvertingTheWholeScreenAndHeldFramesStayAsTheyWere) {
    gst_init(nullptr, nullptr);
    std::mt19937 random(7);
    Picture picture;
    picture.scramble(whole, random);
    KeptFrame frame(GST_VIDEO_FORMAT_BGRx, Picture::width, Picture::height, 30);
    keep(frame, picture, whole);
    for (int round = 0; round < 30; ++round) {
        SCOPED_TRACE(round);
        GstSample* held = frame.sample();
        const auto before = bytesOf(gst_sample_ref(held));
        // The screen changes at random places, corners included, and nowhere else.
        std::vector<Rect> changes{{0, 0, 1, 1}, {whole.right - 1, whole.bottom - 1, whole.right, whole.bottom}};
        if (round > 0) {
            changes.clear();
            for (int i = 0; i < 3; ++i) {
                const int left = static_cast<int>(random() % Picture::width);
                const int top = static_cast<int>(random() % Picture::height);
                changes.push_back({left, top, std::min(whole.right, left + 1 + static_cast<int>(random() % 100)),
                                   std::min(whole.bottom, top + 1 + static_cast<int>(random() % 60))});
            }
        }
        for (const Rect& change : changes) picture.scramble(change, random);
        for (const Rect& part : changedParts(changes, whole)) keep(frame, picture, part);
        EXPECT_TRUE(bytesOf(frame.sample()) == wholeConversion(picture));
        EXPECT_TRUE(bytesOf(held) == before);
    }
}

TEST(PointerSprite, IsBlendedOverWhatOfItFallsInsideThePartInThePixelsByteOrder) {
    // Opaque red, then white at half coverage (premultiplied), at (9, 5) and (10, 5).
    const PointerSprite sprite{{9, 5, 11, 6}, {0xffff0000, 0x80808080}};
    const std::uint8_t grey = 0x40;
    const std::uint8_t halfOver = 0x80 + 0x20;
    for (const auto& [format, red] : {std::pair{GST_VIDEO_FORMAT_BGRx, std::array<std::uint8_t, 4>{0, 0, 255, grey}},
                                      std::pair{GST_VIDEO_FORMAT_xRGB, std::array<std::uint8_t, 4>{grey, 255, 0, 0}}}) {
        SCOPED_TRACE(gst_video_format_to_string(format));
        // Two rows of two pixels from (10, 5): only the second pixel of the sprite is inside.
        std::vector<std::uint8_t> pixels(2 * 2 * 4, grey);
        drawPointer(sprite, pixels.data(), 8, {10, 5, 12, 7}, format);
        std::vector<std::uint8_t> expected(pixels.size(), grey);
        std::fill_n(expected.begin(), 4, halfOver);
        expected[format == GST_VIDEO_FORMAT_BGRx ? 3 : 0] = grey;  // the unused byte stays
        EXPECT_EQ(pixels, expected);

        std::vector<std::uint8_t> atRed(4, grey);
        drawPointer(sprite, atRed.data(), 4, {9, 5, 10, 6}, format);
        EXPECT_EQ(atRed, std::vector<std::uint8_t>(red.begin(), red.end()));
    }
}

}  // namespace
}  // namespace native_worker::engine::gstreamer
