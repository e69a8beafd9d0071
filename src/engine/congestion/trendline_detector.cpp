#include "engine/congestion/trendline_detector.h"

#include <algorithm>
#include <cmath>

namespace native_worker::congestion {
namespace {

// The constants of the published algorithm and its reference implementation.
constexpr std::int64_t burstUs = 5'000;
constexpr std::size_t windowSize = 20;
constexpr double smoothing = 0.9;
constexpr double trendGain = 4.0;
constexpr int deltasForFullGain = 60;
constexpr double overuseTimeMs = 10;
constexpr double thresholdUp = 0.0087;
constexpr double thresholdDown = 0.039;
constexpr double thresholdMin = 6;
constexpr double thresholdMax = 600;
constexpr double thresholdOutlier = 15;
constexpr double longestThresholdStepMs = 100;
// A delay jump this large is a clock reset or garbage, not a queue.
constexpr double implausibleDeltaMs = 3'000;
constexpr int reorderedGroupsBeforeReset = 3;

double milliseconds(std::int64_t us) {
    return static_cast<double>(us) / 1000.0;
}

template <typename Samples>
std::optional<double> slope(const Samples& samples) {
    double sumX = 0, sumY = 0;
    for (const auto& sample : samples) {
        sumX += sample.arrivalMs;
        sumY += sample.smoothedDelayMs;
    }
    const double meanX = sumX / static_cast<double>(samples.size());
    const double meanY = sumY / static_cast<double>(samples.size());
    double numerator = 0, denominator = 0;
    for (const auto& sample : samples) {
        numerator += (sample.arrivalMs - meanX) * (sample.smoothedDelayMs - meanY);
        denominator += (sample.arrivalMs - meanX) * (sample.arrivalMs - meanX);
    }
    if (denominator == 0) return std::nullopt;
    return numerator / denominator;
}

}  // namespace

BandwidthUsage TrendlineDetector::onPacket(std::int64_t sendTimeUs, std::int64_t arrivalTimeUs) {
    if (current_ && sendTimeUs < current_->firstSendUs) return usage_;  // reordered: its group is done
    if (current_ && sendTimeUs - current_->firstSendUs <= burstUs) {
        current_->lastSendUs = std::max(current_->lastSendUs, sendTimeUs);
        current_->lastArrivalUs = std::max(current_->lastArrivalUs, arrivalTimeUs);
        return usage_;
    }
    if (current_) onGroup(*current_);
    current_ = Group{sendTimeUs, sendTimeUs, arrivalTimeUs};
    return usage_;
}

void TrendlineDetector::onGroup(const Group& group) {
    if (!previous_) {
        previous_ = group;
        return;
    }
    const double sendDelta = milliseconds(group.lastSendUs - previous_->lastSendUs);
    const double arrivalDelta = milliseconds(group.lastArrivalUs - previous_->lastArrivalUs);
    if (std::abs(arrivalDelta - sendDelta) > implausibleDeltaMs) {
        reset();
    } else if (arrivalDelta < 0) {
        if (++reorderedInARow_ < reorderedGroupsBeforeReset) return;
        reset();
    } else {
        reorderedInARow_ = 0;
        onGroupDelta(sendDelta, arrivalDelta, group.lastArrivalUs);
    }
    previous_ = group;
}

void TrendlineDetector::onGroupDelta(double sendDeltaMs, double arrivalDeltaMs, std::int64_t arrivalUs) {
    if (!firstArrivalUs_) firstArrivalUs_ = arrivalUs;
    deltas_ = std::min(deltas_ + 1, 1000);
    accumulatedDelayMs_ += arrivalDeltaMs - sendDeltaMs;
    smoothedDelayMs_ = smoothing * smoothedDelayMs_ + (1 - smoothing) * accumulatedDelayMs_;
    window_.push_back({milliseconds(arrivalUs - *firstArrivalUs_), smoothedDelayMs_});
    if (window_.size() > windowSize) window_.pop_front();
    if (window_.size() < windowSize) return;
    const double trend = slope(window_).value_or(0);
    detect(std::min(deltas_, deltasForFullGain) * trend * trendGain, sendDeltaMs, arrivalUs);
}

void TrendlineDetector::detect(double trend, double sendDeltaMs, std::int64_t arrivalUs) {
    if (trend > threshold_) {
        overuseTimeMs_ = overuseTimeMs_ < 0 ? sendDeltaMs / 2 : overuseTimeMs_ + sendDeltaMs;
        ++overuseCount_;
        if (overuseTimeMs_ > overuseTimeMs && overuseCount_ > 1 && trend >= previousTrend_) {
            overuseTimeMs_ = 0;
            overuseCount_ = 0;
            usage_ = BandwidthUsage::overusing;
        }
    } else {
        overuseTimeMs_ = -1;
        overuseCount_ = 0;
        usage_ = trend < -threshold_ ? BandwidthUsage::underusing : BandwidthUsage::normal;
    }
    previousTrend_ = trend;
    adaptThreshold(trend, arrivalUs);
}

void TrendlineDetector::adaptThreshold(double trend, std::int64_t arrivalUs) {
    if (!lastThresholdUpdateUs_) lastThresholdUpdateUs_ = arrivalUs;
    const double magnitude = std::abs(trend);
    // A spike far above the threshold (a hiccup) must not drag it up.
    if (magnitude > threshold_ + thresholdOutlier) {
        lastThresholdUpdateUs_ = arrivalUs;
        return;
    }
    const double k = magnitude < threshold_ ? thresholdDown : thresholdUp;
    const double elapsedMs = std::min(milliseconds(arrivalUs - *lastThresholdUpdateUs_), longestThresholdStepMs);
    threshold_ =
        std::clamp(threshold_ + k * (magnitude - threshold_) * std::max(elapsedMs, 0.0), thresholdMin, thresholdMax);
    lastThresholdUpdateUs_ = arrivalUs;
}

void TrendlineDetector::reset() {
    previous_.reset();
    reorderedInARow_ = 0;
    firstArrivalUs_.reset();
    accumulatedDelayMs_ = 0;
    smoothedDelayMs_ = 0;
    window_.clear();
    deltas_ = 0;
    overuseTimeMs_ = -1;
    overuseCount_ = 0;
    previousTrend_ = 0;
    usage_ = BandwidthUsage::normal;
}

}  // namespace native_worker::congestion
