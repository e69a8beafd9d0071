#include "moving_desktop.h"

#include <X11/Xlib.h>

#include <chrono>

namespace native_worker::bench {

MovingDesktop::MovingDesktop(const std::string& display, Detail detail, int reservedRows) {
    painter_ = std::thread([this, display, detail, reservedRows] { paint(display, detail, reservedRows); });
    while (!started_) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

MovingDesktop::~MovingDesktop() {
    stop_ = true;
    if (painter_.joinable()) painter_.join();
}

void MovingDesktop::paint(const std::string& name, Detail detail, int reservedRows) {
    Display* display = XOpenDisplay(name.c_str());
    if (!display) {
        started_ = true;
        return;
    }
    const Window root = DefaultRootWindow(display);
    XWindowAttributes attributes;
    XGetWindowAttributes(display, root, &attributes);
    const int width = attributes.width;
    const int height = attributes.height;
    const int side = height / 3;
    GC gc = XCreateGC(display, root, 0, nullptr);
    const auto stripes = [&](int left, int span) {
        // Vertical stripes, so that the background has detail for the encoder too.
        for (int x = left - left % 32; x < left + span; x += 32) {
            XSetForeground(display, gc, (x / 32) % 2 ? 0x405060 : 0x6080a0);
            XFillRectangle(display, root, gc, x, reservedRows, 32, static_cast<unsigned>(height - reservedRows));
        }
    };
    stripes(0, width);
    XSync(display, False);
    started_ = true;
    const bool moving = detail == Detail::plain || detail == Detail::detailed;
    const auto period = std::chrono::microseconds(moving ? 1000000 / 60 : detail == Detail::blinking ? 250000 : 50000);
    auto next = std::chrono::steady_clock::now();
    int x = 0;
    int step = 8;
    unsigned long long random = 1;
    for (unsigned frame = 0; !stop_; ++frame) {
        next += period;
        if (!moving) {
            // A tenth of the width and of the height: 1% of the screen.
            XSetForeground(display, gc, frame % 2 ? 0xf0f0f0 : 0x202020);
            if (detail == Detail::blinking)
                XFillRectangle(display, root, gc, width / 2, height / 2, static_cast<unsigned>(width / 10),
                               static_cast<unsigned>(height / 10));
            XSync(display, False);
            std::this_thread::sleep_until(next);
            continue;
        }
        stripes(x, side + 32);
        x += step;
        if (x < 0 || x + side > width) {
            step = -step;
            x += 2 * step;
        }
        XSetForeground(display, gc, 0xff0000UL + ((frame * 4) % 256) * 0x100UL);
        XFillRectangle(display, root, gc, x, (height - side) / 2, static_cast<unsigned>(side),
                       static_cast<unsigned>(side));
        for (int block = 0; detail == Detail::detailed && block < 400; ++block) {
            random = random * 6364136223846793005ULL + 1442695040888963407ULL;
            XSetForeground(display, gc, static_cast<unsigned long>(random >> 40));
            XFillRectangle(
                display, root, gc, static_cast<int>((random >> 8) % static_cast<unsigned>(width)),
                reservedRows + static_cast<int>((random >> 24) % static_cast<unsigned>(height - reservedRows - 10)), 6,
                10);
        }
        XSync(display, False);
        std::this_thread::sleep_until(next);
    }
    XFreeGC(display, gc);
    XCloseDisplay(display);
}

}  // namespace native_worker::bench
