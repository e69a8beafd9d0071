#pragma once

#include <atomic>
#include <string>
#include <thread>

namespace native_worker::bench {

// Keeps an X screen busy the way a desktop in use is, on a connection of its
// own, over a patterned background. A moving desktop has a large rectangle
// moving across it, repainted 60 times a second, so every captured frame
// differs from the last. A detailed one also scatters small changing blocks
// everywhere (like text scrolling in many windows), which no encoder can
// squeeze into a few bits. A blinking one changes only a block of 1% of the
// screen four times a second (a clock, a blinking cursor); a still one
// never changes after its first paint.
class MovingDesktop {
public:
    enum class Detail { still, blinking, plain, detailed };
    // The top `reservedRows` rows are left alone, for a frame stamp.
    explicit MovingDesktop(const std::string& display, Detail detail = Detail::plain, int reservedRows = 0);
    ~MovingDesktop();
    MovingDesktop(const MovingDesktop&) = delete;
    MovingDesktop& operator=(const MovingDesktop&) = delete;

    bool running() const { return painter_.joinable(); }

private:
    void paint(const std::string& display, Detail detail, int reservedRows);

    std::atomic<bool> stop_{false};
    std::atomic<bool> started_{false};
    std::thread painter_;
};

}  // namespace native_worker::bench
