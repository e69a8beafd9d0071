#include "engine/congestion/received_rate.h"

#include <algorithm>

namespace native_worker::congestion {
namespace {

constexpr std::int64_t windowUs = 500'000;

}  // namespace

void ReceivedRate::onArrival(std::int64_t arrivalTimeUs, std::uint32_t bytes) {
    // Arrival times only count forward; a report from another clock starts over.
    if (!arrivals_.empty() &&
        (arrivalTimeUs < arrivals_.back().first - windowUs || arrivalTimeUs > arrivals_.back().first + 10 * windowUs)) {
        arrivals_.clear();
        bytes_ = 0;
    }
    arrivals_.emplace_back(std::max(arrivalTimeUs, arrivals_.empty() ? arrivalTimeUs : arrivals_.back().first), bytes);
    bytes_ += bytes;
    while (arrivals_.front().first < arrivals_.back().first - windowUs) {
        bytes_ -= arrivals_.front().second;
        arrivals_.pop_front();
    }
}

std::optional<std::int64_t> ReceivedRate::bps() const {
    if (arrivals_.size() < 2) return std::nullopt;
    const std::int64_t spanUs = arrivals_.back().first - arrivals_.front().first;
    if (spanUs < windowUs / 2) return std::nullopt;
    return static_cast<std::int64_t>(static_cast<double>(bytes_) * 8 / (static_cast<double>(spanUs) / 1e6));
}

}  // namespace native_worker::congestion
