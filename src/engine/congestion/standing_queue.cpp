#include "engine/congestion/standing_queue.h"

#include <algorithm>

namespace native_worker::congestion {
namespace {

constexpr std::int64_t floorBucketUs = 1'000'000;
constexpr std::size_t floorBuckets = 10;
// A clock jump shows as an absurd queue: it is the detector's to reset, not a reason to starve.
constexpr std::int64_t longestQueueUs = 10'000'000;
constexpr double averageOverSeconds = 4;

}  // namespace

void StandingQueue::onArrival(std::int64_t oneWayDelayUs, std::int64_t nowUs) {
    if (floors_.empty() || nowUs - floors_.back().first >= floorBucketUs) {
        floors_.emplace_back(nowUs, oneWayDelayUs);
        if (floors_.size() > floorBuckets) floors_.pop_front();
    } else {
        floors_.back().second = std::min(floors_.back().second, oneWayDelayUs);
    }
    std::int64_t floor = oneWayDelayUs;
    for (const auto& bucket : floors_) floor = std::min(floor, bucket.second);
    delayUs_ = std::clamp<std::int64_t>(oneWayDelayUs - floor, 0, longestQueueUs);

    const double elapsedSeconds = static_cast<double>(nowUs - lastArrivalUs_.value_or(nowUs)) / 1e6;
    lastArrivalUs_ = nowUs;
    const double weight = std::clamp(elapsedSeconds / averageOverSeconds, 0.0, 1.0);
    averageUs_ += weight * (static_cast<double>(delayUs_) - averageUs_);
}

std::int64_t StandingQueue::ownDelayUs() const {
    return std::max<std::int64_t>(0, delayUs_ - static_cast<std::int64_t>(averageUs_));
}

}  // namespace native_worker::congestion
