#pragma once

#include "engine/congestion/packet_feedback.h"
#include "engine/congestion/trendline_detector.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

namespace native_worker::congestion {

struct RateBounds {
    std::int64_t minimumBps = 0;
    std::int64_t startBps = 0;
    std::int64_t maximumBps = 0;
};

// The sender's target rate from what the receiver reports, after Google
// Congestion Control: a delay-based rate (AIMD driven by the trendline
// detector and the rate the receiver actually got) and a loss-based rate, of
// which the lower wins. Transport-wide feedback drives both; without it,
// receiver reports drive the loss-based rate alone. Without any feedback the
// rate stays where it started. The result always lies within the bounds,
// whatever the feedback says.
//
// Two additions to the published algorithm. The delay-based half cuts the
// rate by the standing queue it measures (one-way delay above its minimum of
// the last seconds), so that a queue built before the first overuse was seen
// drains within about a second instead of lingering while the rate holds.
// And reports from within an outage are no measure of the path: back from
// one the rate climbs about as fast as probing would to near the rate the
// path carried before, unless a queue shows on the way.
class SendRateController {
public:
    explicit SendRateController(RateBounds bounds);

    // One transport-wide feedback report: packets in send order.
    void onTransportFeedback(const std::vector<PacketFeedback>& packets, std::int64_t nowUs);
    // A receiver report's fraction of packets lost since the previous one.
    void onReceiverReport(double fractionLost, std::int64_t nowUs);

    std::int64_t targetBps() const;
    // The frame rate the target affords without blurring the picture: screen
    // content keeps its resolution and gives up frames first.
    double frameRate(std::int64_t pixels, double captureFps) const;

private:
    void trackOutage(double fractionLost, std::int64_t nowUs);
    void updateDelayBased(BandwidthUsage usage, std::int64_t nowUs);
    void updateLossBased(double fractionLost, std::int64_t nowUs);
    void restartLossWindow(std::int64_t nowUs);
    std::optional<std::int64_t> receivedBps() const;
    void trackOneWayDelay(std::int64_t oneWayUs, std::int64_t nowUs);
    std::int64_t bounded(double bps) const;

    const RateBounds bounds_;
    TrendlineDetector detector_;
    std::int64_t delayBasedBps_;
    std::int64_t lossBasedBps_;
    std::optional<std::int64_t> lastDelayUpdateUs_;
    std::optional<std::int64_t> lastDecreaseUs_;
    std::optional<std::int64_t> lastLossUpdateUs_;
    std::optional<double> linkCapacityBps_;
    // The highest rate the receiver got, outages aside; forgotten when a queue
    // shows far below it or on the way back to it.
    std::int64_t provenBps_ = 0;
    // From a report losing most packets until one that loses little and shows no queue.
    bool outage_ = false;
    std::int64_t lossBasedBeforeOutage_ = 0;
    // Since an outage, until a queue shows or the rate is back near the proven one.
    bool recovering_ = false;
    bool climbedSinceDecrease_ = false;

    // Received bytes by arrival time, over the last half second.
    std::deque<std::pair<std::int64_t, std::uint32_t>> arrivals_;
    std::int64_t arrivedBytes_ = 0;
    // The lowest one-way delay (on mixed clocks) per second, over the last seconds.
    std::deque<std::pair<std::int64_t, std::int64_t>> delayFloor_;
    std::int64_t queueDelayUs_ = 0;
    // Loss counted over about one second of transport-wide feedback.
    std::int64_t lossWindowStartUs_ = -1;
    int lossWindowSent_ = 0;
    int lossWindowLost_ = 0;
};

}  // namespace native_worker::congestion
