#include "engine/congestion/loss_based_rate.h"

#include <algorithm>
#include <cmath>

namespace native_worker::congestion {
namespace {

constexpr std::int64_t windowUs = 1'000'000;
constexpr double lowLoss = 0.02;
constexpr double highLoss = 0.10;
constexpr double increasePerSecond = 1.05;

}  // namespace

LossBasedRate::LossBasedRate(const RateBounds& bounds)
    : bounds_(bounds), bps_(bounds.clamp(static_cast<double>(bounds.startBps))) {}

void LossBasedRate::onPackets(int sent, int lost, std::optional<std::int64_t> delayBasedBps, std::int64_t nowUs) {
    if (!windowStartUs_) windowStartUs_ = nowUs;
    windowSent_ += sent;
    windowLost_ += lost;
    if (nowUs - *windowStartUs_ < windowUs) return;
    onFractionLost(static_cast<double>(windowLost_) / windowSent_, delayBasedBps, nowUs);
    restartWindow(nowUs);
}

void LossBasedRate::onFractionLost(double fractionLost, std::optional<std::int64_t> delayBasedBps,
                                   std::int64_t nowUs) {
    const double elapsed =
        lastUpdateUs_ ? std::clamp(static_cast<double>(nowUs - *lastUpdateUs_) / 1e6, 0.0, 1.0) : 1.0;
    lastUpdateUs_ = nowUs;
    double next = static_cast<double>(bps_);
    // Where the delay-based rate is measured, little loss leaves it in charge.
    if (fractionLost < lowLoss)
        next = std::max(next * std::pow(increasePerSecond, elapsed),
                        delayBasedBps ? static_cast<double>(*delayBasedBps) : 0.0);
    else if (fractionLost > highLoss) next *= 1 - 0.5 * fractionLost;
    bps_ = bounds_.clamp(next);
}

void LossBasedRate::onOutageBegan() {
    bpsBeforeOutage_ = bps_;
}

// The cuts an outage's losses made are left behind with it.
void LossBasedRate::onOutageEnded(std::int64_t nowUs) {
    bps_ = std::max(bps_, bpsBeforeOutage_);
    restartWindow(nowUs);
}

void LossBasedRate::restartWindow(std::int64_t nowUs) {
    windowStartUs_ = nowUs;
    windowSent_ = 0;
    windowLost_ = 0;
}

}  // namespace native_worker::congestion
