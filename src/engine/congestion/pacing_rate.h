#pragma once

#include <cstdint>
#include <optional>

namespace native_worker::congestion {

// How much faster than the target the pacer lets packets go. While the path
// loses nothing, fast: a frame then reaches the receiver in a fraction of a
// frame's time, which a desktop's user feels as lag. For a while after any
// loss, gently: a frame reaches a shallow router buffer, or one a download
// keeps full, spread out, and the pacer's queue still drains.
class PacingRate {
public:
    static constexpr double fastOverTarget = 2.5;
    static constexpr double gentleOverTarget = 1.25;
    // Longer than a download's cycle from one loss to the next.
    static constexpr std::int64_t gentleAfterLossUs = 10'000'000;

    void onReport(bool lost, std::int64_t nowUs);
    std::int64_t bps(std::int64_t targetBps) const;

private:
    bool gentle_ = false;
    std::optional<std::int64_t> lastLossUs_;
};

}  // namespace native_worker::congestion
