#pragma once

#include <atomic>
#include <string>
#include <thread>

namespace native_worker::bench {

// Keeps an X screen busy the way a desktop in use is: a large rectangle
// that moves across a patterned background, repainted 60 times a second on a
// connection of its own, so every captured frame differs from the last. A
// detailed desktop also scatters small changing blocks everywhere (like text
// scrolling in many windows), which no encoder can squeeze into a few bits.
class MovingDesktop {
public:
    enum class Detail { plain, detailed };
    explicit MovingDesktop(const std::string& display, Detail detail = Detail::plain);
    ~MovingDesktop();
    MovingDesktop(const MovingDesktop&) = delete;
    MovingDesktop& operator=(const MovingDesktop&) = delete;

    bool running() const { return painter_.joinable(); }

private:
    void paint(const std::string& display, Detail detail);

    std::atomic<bool> stop_{false};
    std::atomic<bool> started_{false};
    std::thread painter_;
};

}  // namespace native_worker::bench
