#include "frame_stamp.h"

#include <X11/Xlib.h>

namespace native_worker::bench {
namespace {

constexpr int bits = 16;
// Blocks as large as two encoder macroblocks and aligned to them, so that a
// low bitrate blurs their edges but not their level.
constexpr int block = 32;
constexpr int stampWidth = bits * block;
constexpr int stampHeight = 2 * block;
constexpr std::size_t numbers = 1U << bits;

bool bitAt(unsigned value, int bit) {
    return (value >> (bits - 1 - bit)) & 1U;
}

}  // namespace

FrameStamp::FrameStamp(const std::string& display, std::chrono::microseconds period) : painted_(numbers) {
    painter_ = std::thread([this, display, period] { paint(display, period); });
    while (!started_) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

FrameStamp::~FrameStamp() {
    stop_ = true;
    if (painter_.joinable()) painter_.join();
}

std::vector<std::optional<FrameStamp::Clock::time_point>> FrameStamp::paintTimes() {
    std::lock_guard lock(mutex_);
    return painted_;
}

void FrameStamp::paint(const std::string& name, std::chrono::microseconds period) {
    Display* display = XOpenDisplay(name.c_str());
    if (!display) {
        started_ = true;
        return;
    }
    const Window root = DefaultRootWindow(display);
    // Drawn off screen and copied in one request, so that a grab never sees
    // half of one number and half of the next.
    const Pixmap canvas = XCreatePixmap(display, root, stampWidth, stampHeight,
                                        static_cast<unsigned>(DefaultDepth(display, DefaultScreen(display))));
    GC gc = XCreateGC(display, root, 0, nullptr);
    opened_ = true;
    started_ = true;
    auto next = Clock::now();
    for (unsigned number = 0; !stop_ && number < numbers; ++number) {
        for (int row = 0; row < 2; ++row) {
            const unsigned shown = row == 0 ? number : ~number;
            for (int bit = 0; bit < bits; ++bit) {
                XSetForeground(display, gc, bitAt(shown, bit) ? 0xffffffUL : 0UL);
                XFillRectangle(display, canvas, gc, bit * block, row * block, block, block);
            }
        }
        XCopyArea(display, canvas, root, gc, 0, 0, stampWidth, stampHeight, 0, 0);
        XSync(display, False);
        const auto shownAt = Clock::now();
        {
            std::lock_guard lock(mutex_);
            painted_[number] = shownAt;
        }
        next += period;
        std::this_thread::sleep_until(next);
    }
    XFreeGC(display, gc);
    XFreePixmap(display, canvas);
    XCloseDisplay(display);
}

std::optional<std::uint16_t> readStamp(const engine::VideoFrame& frame) {
    if (!frame.dataY || frame.width < stampWidth || frame.height < stampHeight) return std::nullopt;
    // Mean luma of the middle half of a block, against mid-grey.
    const auto white = [&](int bit, int row) {
        const int inset = block / 4;
        unsigned sum = 0;
        for (int y = row * block + inset; y < (row + 1) * block - inset; ++y) {
            const std::uint8_t* line = frame.dataY + static_cast<std::ptrdiff_t>(y) * frame.strideY;
            for (int x = bit * block + inset; x < (bit + 1) * block - inset; ++x) sum += line[x];
        }
        return sum / static_cast<unsigned>((block / 2) * (block / 2)) >= 128;
    };
    unsigned number = 0;
    unsigned complement = 0;
    for (int bit = 0; bit < bits; ++bit) {
        number = (number << 1) | white(bit, 0);
        complement = (complement << 1) | white(bit, 1);
    }
    if ((number ^ complement) != numbers - 1) return std::nullopt;
    return static_cast<std::uint16_t>(number);
}

}  // namespace native_worker::bench
