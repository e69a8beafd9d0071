#pragma once

#include <cstdint>
#include <optional>

namespace native_worker::congestion {

// How much faster than the target the pacer lets packets go. While no buffer
// on the path overflows, fast: a frame then reaches the receiver in a
// fraction of a frame's time, which a desktop's user feels as lag. For a
// while after a buffer lost packets, gently: a frame reaches a shallow router
// buffer, or one a download keeps full, spread out, and the pacer's queue
// still drains.
//
// A full buffer drops packets only when a queue stands, so a packet lost
// right behind one that found the path's queues empty was lost by the path
// itself (a radio), at any queue: while the path loses packets so, a loss
// behind a queue is no sign of a full buffer either, and spreading frames out
// would only delay them.
class PacingRate {
public:
    static constexpr double fastOverTarget = 2.5;
    static constexpr double gentleOverTarget = 1.25;
    // Longer than a download's cycle from one loss to the next.
    static constexpr std::int64_t gentleAfterLossUs = 10'000'000;

    // One lost packet, behind a packet that waited `queueUs` in the path's
    // queues; none where that is not known.
    void onLoss(std::optional<std::int64_t> queueUs, std::int64_t nowUs);
    // Once a report's losses are told.
    void onReport(std::int64_t nowUs);
    std::int64_t bps(std::int64_t targetBps) const;

private:
    bool gentle_ = false;
    bool bufferLossInReport_ = false;
    std::optional<std::int64_t> lastBufferLossUs_;
    std::optional<std::int64_t> lastOwnLossUs_;
};

}  // namespace native_worker::congestion
