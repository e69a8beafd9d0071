#pragma once

#include "media/engine.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace native_worker::bench {

// A frame number painted into the top-left corner of an X screen as two rows
// of large black and white blocks, the number and its complement, so that a
// decoder far downstream can read it back and tell a torn or smeared picture
// from a good one.
class FrameStamp {
public:
    using Clock = std::chrono::steady_clock;

    // Paints a new number every `period` on a connection of its own.
    FrameStamp(const std::string& display, std::chrono::microseconds period);
    ~FrameStamp();
    FrameStamp(const FrameStamp&) = delete;
    FrameStamp& operator=(const FrameStamp&) = delete;

    bool running() const { return painter_.joinable() && opened_; }
    // When each number was on the screen, indexed by number; empty until painted.
    std::vector<std::optional<Clock::time_point>> paintTimes();

private:
    void paint(const std::string& display, std::chrono::microseconds period);

    std::atomic<bool> stop_{false};
    std::atomic<bool> started_{false};
    std::atomic<bool> opened_{false};
    std::mutex mutex_;
    std::vector<std::optional<Clock::time_point>> painted_;
    std::thread painter_;
};

// The number a decoded picture carries, when both rows are legible and agree.
std::optional<std::uint16_t> readStamp(const engine::VideoFrame& frame);

}  // namespace native_worker::bench
