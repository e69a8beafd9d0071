#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <utility>

namespace native_worker::congestion {

// The rate the receiver got: bytes by arrival time over the last half second,
// and over the last 150 ms, which a sender that was idle until lately does
// not drag down. Too few arrivals, or too short a span of them, measure
// nothing.
class ReceivedRate {
public:
    void onArrival(std::int64_t arrivalTimeUs, std::uint32_t bytes);
    std::optional<std::int64_t> bps() const;
    std::optional<std::int64_t> recentBps() const;

private:
    std::deque<std::pair<std::int64_t, std::uint32_t>> arrivals_;
    std::int64_t bytes_ = 0;
};

}  // namespace native_worker::congestion
