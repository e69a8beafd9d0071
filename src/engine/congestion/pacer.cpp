#include "engine/congestion/pacer.h"

#include <algorithm>

namespace native_worker::congestion {
namespace {

constexpr std::int64_t unqueuedWindowUs = 1'000'000;

}  // namespace

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
    unqueued_.emplace_back(nowUs, bytes);
    unqueuedBytes_ += bytes;
    return true;
}

std::int64_t Pacer::unqueuedBps(std::int64_t nowUs) {
    for (; !unqueued_.empty() && unqueued_.front().first <= nowUs - unqueuedWindowUs; unqueued_.pop_front())
        unqueuedBytes_ -= unqueued_.front().second;
    return unqueuedBytes_ * 8'000'000 / unqueuedWindowUs;
}

}  // namespace native_worker::congestion
