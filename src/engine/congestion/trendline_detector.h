#pragma once

#include "engine/congestion/packet_feedback.h"

#include <cstdint>
#include <deque>
#include <optional>

namespace native_worker::congestion {

enum class BandwidthUsage { normal, overusing, underusing };

// The delay-based half of Google Congestion Control (draft-ietf-rmcat-gcc):
// packets sent in one burst form a group; the growth of one-way delay between
// groups is smoothed, its trend over the last groups is the slope of a least
// squares line, and an adaptive threshold on that trend tells a filling queue
// (overusing) from a draining one (underusing). The threshold adapts over the
// groups' arrival times, whenever their feedback comes.
//
// A group that arrives before the one sent ahead of it finished was reordered
// on the way: it is skipped, as libwebrtc's estimator does. Only several in a
// row, or a jump in arrival times no path explains, show a clock that started
// over, and reset the detector.
class TrendlineDetector {
public:
    // One received packet, in send order. Returns the usage after it.
    BandwidthUsage onPacket(std::int64_t sendTimeUs, std::int64_t arrivalTimeUs);
    BandwidthUsage usage() const { return usage_; }

private:
    struct Group {
        std::int64_t firstSendUs = 0;
        std::int64_t lastSendUs = 0;
        std::int64_t lastArrivalUs = 0;
    };
    struct Sample {
        double arrivalMs;
        double smoothedDelayMs;
    };

    void onGroup(const Group& group);
    void onGroupDelta(double sendDeltaMs, double arrivalDeltaMs, std::int64_t arrivalUs);
    void detect(double trend, double sendDeltaMs, std::int64_t arrivalUs);
    void adaptThreshold(double trend, std::int64_t arrivalUs);
    void reset();

    std::optional<Group> current_;
    std::optional<Group> previous_;
    std::optional<std::int64_t> firstArrivalUs_;
    double accumulatedDelayMs_ = 0;
    double smoothedDelayMs_ = 0;
    std::deque<Sample> window_;
    int deltas_ = 0;
    int reorderedInARow_ = 0;

    double threshold_ = 12.5;
    std::optional<std::int64_t> lastThresholdUpdateUs_;
    double overuseTimeMs_ = -1;
    int overuseCount_ = 0;
    double previousTrend_ = 0;
    BandwidthUsage usage_ = BandwidthUsage::normal;
};

}  // namespace native_worker::congestion
