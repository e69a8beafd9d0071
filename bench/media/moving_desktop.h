#pragma once

#include <atomic>
#include <string>
#include <thread>

namespace native_worker::bench {

// Keeps an X screen busy the way a desktop in use is: a large rectangle
// that moves across a patterned background, repainted 60 times a second on a
// connection of its own, so every captured frame differs from the last.
class MovingDesktop {
public:
    explicit MovingDesktop(const std::string& display);
    ~MovingDesktop();
    MovingDesktop(const MovingDesktop&) = delete;
    MovingDesktop& operator=(const MovingDesktop&) = delete;

    bool running() const { return painter_.joinable(); }

private:
    void paint(const std::string& display);

    std::atomic<bool> stop_{false};
    std::atomic<bool> started_{false};
    std::thread painter_;
};

}  // namespace native_worker::bench
