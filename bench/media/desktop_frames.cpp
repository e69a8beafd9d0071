#include "desktop_frames.h"

#include <algorithm>
#include <cstring>

namespace native_worker::bench {
namespace {

constexpr int glyphWidth = 7;
constexpr int lineHeight = 16;
constexpr int glyphCount = 80;
constexpr std::uint8_t ink = 30;
constexpr std::uint8_t paper = 240;
constexpr int titleHeight = 24;
constexpr int taskBarHeight = 40;
// Reading speed and a brisk drag, in pixels a frame.
constexpr int scrollStep = 3;
constexpr int dragStep = 6;

std::uint32_t next(std::uint32_t& seed) {
    seed = seed * 1664525U + 1013904223U;
    return seed >> 8;
}

int even(double value) {
    return static_cast<int>(value) & ~1;
}

// Glyphs of strokes and dots with softened edges, the way a font is rendered
// on screen: hard for an encoder, and what desktops are full of.
std::vector<std::vector<std::uint8_t>> makeGlyphs() {
    std::uint32_t seed = 7;
    std::vector<std::vector<std::uint8_t>> glyphs;
    for (int index = 0; index < glyphCount; ++index) {
        std::vector<std::uint8_t> glyph(glyphWidth * lineHeight, paper);
        const auto dot = [&](int x, int y) {
            if (x < 0 || x >= glyphWidth - 1 || y < 0 || y >= lineHeight) return;
            glyph[y * glyphWidth + x] = ink;
            if (x + 1 < glyphWidth - 1 && glyph[y * glyphWidth + x + 1] != ink) glyph[y * glyphWidth + x + 1] = 150;
        };
        const int top = next(seed) % 3 == 0 ? 2 : 5;
        for (int stroke = 0; stroke < 3; ++stroke) {
            const int x = static_cast<int>(next(seed) % 5);
            const int y = top + static_cast<int>(next(seed) % 3) * 3;
            if (next(seed) % 2)
                for (int row = y; row < 13; ++row) dot(x, row);
            else
                for (int column = 0; column < 5; ++column) dot(column, y);
        }
        glyphs.push_back(std::move(glyph));
    }
    return glyphs;
}

}  // namespace

DesktopFrames::Picture DesktopFrames::blank(int width, int height, std::uint8_t y, std::uint8_t u, std::uint8_t v) {
    const auto plane = [](int w, int h, std::uint8_t value) {
        return Plane{w, h, std::vector<std::uint8_t>(static_cast<std::size_t>(w) * h, value)};
    };
    return Picture{plane(width, height, y), plane(width / 2, height / 2, u), plane(width / 2, height / 2, v)};
}

void DesktopFrames::fill(Picture& picture, int left, int top, int width, int height, std::uint8_t y, std::uint8_t u,
                         std::uint8_t v) {
    for (int row = top; row < top + height; ++row)
        std::memset(picture.luma.row(row) + left, y, static_cast<std::size_t>(width));
    for (int row = top / 2; row < (top + height) / 2; ++row) {
        std::memset(picture.blue.row(row) + left / 2, u, static_cast<std::size_t>(width / 2));
        std::memset(picture.red.row(row) + left / 2, v, static_cast<std::size_t>(width / 2));
    }
}

// A ragged line of words from `left` towards `right`.
void DesktopFrames::write(Plane& luma, int left, int top, int right, std::uint32_t& seed) const {
    const int end = left + static_cast<int>(next(seed) % static_cast<std::uint32_t>(std::max(1, right - left)));
    for (int x = left; x + glyphWidth <= end;) {
        const int letters = 1 + static_cast<int>(next(seed) % 9);
        for (int letter = 0; letter < letters && x + glyphWidth <= right; ++letter, x += glyphWidth) {
            const auto& glyph = glyphs_[next(seed) % glyphCount];
            for (int row = 0; row < lineHeight; ++row)
                std::memcpy(luma.row(top + row) + x, &glyph[row * glyphWidth], glyphWidth);
        }
        x += glyphWidth;
    }
}

DesktopFrames::DesktopFrames(int width, int height)
    : width_(width),
      height_(height),
      glyphs_(makeGlyphs()),
      desktop_(blank(width, height, 70, 140, 118)),
      document_(blank(even(width * 0.55), 3 * height, paper, 128, 128)),
      window_(blank(even(width / 3.0), even(height / 3.0), paper, 128, 128)),
      documentLeft_(even(width * 0.25)),
      documentTop_(40 + titleHeight),
      documentRows_(height - taskBarHeight - 40 - titleHeight - 8) {
    std::uint32_t seed = 11;
    // Icons down the left, a task bar along the bottom, the document window's title.
    for (int top = 20; top + 90 < height - taskBarHeight; top += 90) {
        fill(desktop_, 24, top, 48, 48, static_cast<std::uint8_t>(90 + next(seed) % 120),
             static_cast<std::uint8_t>(next(seed) % 256), static_cast<std::uint8_t>(next(seed) % 256));
        fill(desktop_, 10, top + 56, 76, lineHeight, paper, 128, 128);
        write(desktop_.luma, 12, top + 56, 86, seed);
    }
    fill(desktop_, 0, height - taskBarHeight, width, taskBarHeight, 40, 128, 128);
    fill(desktop_, documentLeft_ - 2, 38, document_.luma.width + 4, titleHeight + 2 + documentRows_ + 2, 20, 128, 128);
    fill(desktop_, documentLeft_, 40, document_.luma.width, titleHeight, 200, 150, 110);
    write(desktop_.luma, documentLeft_ + 8, 44, documentLeft_ + 300, seed);
    // Paragraphs of text, with a blank line between them.
    for (int top = 0; top + lineHeight <= document_.luma.height; top += lineHeight)
        if (next(seed) % 7) write(document_.luma, 16, top, document_.luma.width - 16, seed);
    const int bodyTop = titleHeight + 8;
    fill(window_, 0, 0, window_.luma.width, titleHeight, 110, 170, 100);
    write(window_.luma, 8, 4, 200, seed);
    for (int top = bodyTop; top + lineHeight <= window_.luma.height; top += lineHeight)
        write(window_.luma, 8, top, window_.luma.width - 8, seed);
    frame_.resize(static_cast<std::size_t>(width) * height * 3 / 2);
}

void DesktopFrames::paste(const Picture& source, int sourceTop, int left, int top, int rows) {
    const Plane* sourcePlanes[] = {&source.luma, &source.blue, &source.red};
    std::uint8_t* target = frame_.data();
    for (int plane = 0; plane < 3; ++plane) {
        const int scale = plane == 0 ? 1 : 2;
        const int frameWidth = width_ / scale;
        const Plane& from = *sourcePlanes[plane];
        for (int row = 0; row < rows / scale; ++row) {
            const int fromRow = (sourceTop / scale + row) % from.height;
            std::memcpy(target + static_cast<std::size_t>(top / scale + row) * frameWidth + left / scale,
                        from.pixels.data() + static_cast<std::size_t>(fromRow) * from.width,
                        static_cast<std::size_t>(from.width));
        }
        target += static_cast<std::size_t>(frameWidth) * (height_ / scale);
    }
}

const std::vector<std::uint8_t>& DesktopFrames::frame(int number) {
    paste(desktop_, 0, 0, 0, height_);
    paste(document_, ((number * scrollStep) % document_.luma.height) & ~1, documentLeft_, documentTop_, documentRows_);
    // The clock: a light box in the task bar whose text changes every second.
    Picture clock = blank(96, lineHeight + 8, 220, 128, 128);
    std::uint32_t second = static_cast<std::uint32_t>(number / 30);
    write(clock.luma, 8, 4, 88, second);
    paste(clock, 0, width_ - 120, height_ - taskBarHeight + 8, clock.luma.height);
    // Dragged to and fro across the screen, over the document.
    const int travel = width_ - window_.luma.width;
    const int position = (number * dragStep) % (2 * travel);
    paste(window_, 0, even(position < travel ? position : 2 * travel - position), even(height_ * 0.45),
          window_.luma.height);
    return frame_;
}

}  // namespace native_worker::bench
