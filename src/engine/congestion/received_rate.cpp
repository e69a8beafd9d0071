#include "engine/congestion/received_rate.h"

#include <algorithm>
#include <iterator>

namespace native_worker::congestion {
namespace {

constexpr std::int64_t windowUs = 500'000;
constexpr std::int64_t recentWindowUs = 150'000;

std::int64_t rateOf(std::int64_t bytes, std::int64_t spanUs) {
    return static_cast<std::int64_t>(static_cast<double>(bytes) * 8 / (static_cast<double>(spanUs) / 1e6));
}

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
    return rateOf(bytes_, spanUs);
}

// The window's first arrival opens its span: its bytes came before it. On a
// window this short they would add a packet's worth to the rate.
std::optional<std::int64_t> ReceivedRate::recentBps() const {
    if (arrivals_.empty()) return std::nullopt;
    const std::int64_t last = arrivals_.back().first;
    const auto first = std::find_if(arrivals_.begin(), arrivals_.end(),
                                    [&](const auto& arrival) { return arrival.first >= last - recentWindowUs; });
    std::int64_t bytes = 0;
    for (auto arrival = std::next(first); arrival != arrivals_.end(); ++arrival) bytes += arrival->second;
    const std::int64_t spanUs = last - first->first;
    if (spanUs < recentWindowUs * 2 / 3) return std::nullopt;
    return rateOf(bytes, spanUs);
}

}  // namespace native_worker::congestion
