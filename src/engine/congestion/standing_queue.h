#pragma once

#include <cstdint>
#include <deque>
#include <utility>

namespace native_worker::congestion {

// The queue that stands on the path: how far the one-way delay lies above its
// lowest value of the last seconds. Send and arrival clocks differ by an
// unknown offset, which the lowest value cancels.
class StandingQueue {
public:
    void onArrival(std::int64_t oneWayDelayUs, std::int64_t nowUs);
    std::int64_t delayUs() const { return delayUs_; }

private:
    // The lowest one-way delay per second.
    std::deque<std::pair<std::int64_t, std::int64_t>> floors_;
    std::int64_t delayUs_ = 0;
};

}  // namespace native_worker::congestion
