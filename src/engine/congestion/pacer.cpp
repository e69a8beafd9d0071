#include "engine/congestion/pacer.h"

#include <algorithm>

namespace native_worker::congestion {

void Pacer::setRate(std::int64_t bps) {
    bps_ = std::max<std::int64_t>(1, bps);
}

std::int64_t Pacer::departureUs(std::uint32_t bytes, std::int64_t nowUs) {
    const double now = static_cast<double>(nowUs);
    double start = now - burstUs;
    if (started_) start = nowUs - lastDepartureUs_ <= lateWakeUs ? drainedAtUs_ : std::max(drainedAtUs_, start);
    started_ = true;
    drainedAtUs_ = start + static_cast<double>(bytes) * 8e6 / static_cast<double>(bps_);
    lastDepartureUs_ = static_cast<std::int64_t>(std::max(now, start));
    return lastDepartureUs_;
}

std::int64_t Pacer::backlogUs(std::int64_t nowUs) const {
    return std::max<std::int64_t>(0, static_cast<std::int64_t>(drainedAtUs_) - nowUs);
}

bool Pacer::admitUnqueued(std::uint32_t bytes, std::int64_t nowUs, std::int64_t boundUs) {
    if (backlogUs(nowUs) > boundUs) return false;
    departureUs(bytes, nowUs);
    return true;
}

}  // namespace native_worker::congestion
