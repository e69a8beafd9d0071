#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace native_worker::bench {

// Pictures of a desktop in use, made in memory and the same for the same
// frame number every time, so that a decoded picture can be held against its
// source: a document window whose text scrolls steadily, a second window of
// text dragged across the screen, and a task bar whose clock changes once a
// second. I420, planes one after another.
class DesktopFrames {
public:
    DesktopFrames(int width, int height);

    const std::vector<std::uint8_t>& frame(int number);
    int width() const { return width_; }
    int height() const { return height_; }

private:
    struct Plane {
        int width = 0;
        int height = 0;
        std::vector<std::uint8_t> pixels;

        std::uint8_t* row(int y) { return pixels.data() + static_cast<std::size_t>(y) * width; }
    };
    struct Picture {
        Plane luma, blue, red;  // Y, U, V
    };

    static Picture blank(int width, int height, std::uint8_t y, std::uint8_t u, std::uint8_t v);
    static void fill(Picture& picture, int left, int top, int width, int height, std::uint8_t y, std::uint8_t u,
                     std::uint8_t v);
    void write(Plane& luma, int left, int top, int right, std::uint32_t& seed) const;
    // Rows of `source` from `sourceTop` (wrapping round) into the frame at left, top.
    void paste(const Picture& source, int sourceTop, int left, int top, int rows);

    int width_, height_;
    std::vector<std::vector<std::uint8_t>> glyphs_;  // lineHeight rows of glyphWidth
    Picture desktop_;                                // everything that does not move
    Picture document_;                               // the scrolling page, taller than its window
    Picture window_;                                 // the dragged window
    int documentLeft_, documentTop_, documentRows_;
    std::vector<std::uint8_t> frame_;
};

}  // namespace native_worker::bench
