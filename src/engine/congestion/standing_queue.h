#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <utility>

namespace native_worker::congestion {

// The queue that stands on the path: how far the one-way delay lies above its
// lowest value of the last seconds. Send and arrival clocks differ by an
// unknown offset, which the lowest value cancels.
//
// Part of it may be another flow's: a download fills whatever buffer the
// video leaves, and cutting the video for that queue only starves the video.
// Like the detector's adaptive threshold, which keeps a competing flow's delay
// swings from reading as overuse, the queue the sender answers for is what
// stands above the queue's average of the last seconds: a queue that lasts
// through the sender's cuts is discounted, while the sender's own, built in
// a moment, is drained before the average has risen far.
class StandingQueue {
public:
    void onArrival(std::int64_t oneWayDelayUs, std::int64_t nowUs);
    // All of it: what a packet waits now.
    std::int64_t delayUs() const { return delayUs_; }
    // The part the sender answers for.
    std::int64_t ownDelayUs() const;
    // The queue standing now is another flow's: the sender answers only for
    // what it builds above it.
    void disown() { averageUs_ = static_cast<double>(delayUs_); }

private:
    // The lowest one-way delay per second.
    std::deque<std::pair<std::int64_t, std::int64_t>> floors_;
    std::int64_t delayUs_ = 0;
    double averageUs_ = 0;
    std::optional<std::int64_t> lastArrivalUs_;
};

}  // namespace native_worker::congestion
