#pragma once

#include "engine/congestion/delay_based_rate.h"
#include "engine/congestion/loss_based_rate.h"
#include "engine/congestion/outage_watch.h"
#include "engine/congestion/packet_feedback.h"
#include "engine/congestion/pacing_rate.h"
#include "engine/congestion/rate_bounds.h"
#include "engine/congestion/rate_probe.h"
#include "engine/congestion/received_rate.h"
#include "engine/congestion/standing_queue.h"
#include "engine/congestion/trendline_detector.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace native_worker::congestion {

// The sender's target rate from what the receiver reports, after Google
// Congestion Control: the lower of a delay-based and a loss-based rate.
// Transport-wide feedback drives both; without it, receiver reports drive the
// loss-based rate, which is then the target alone. Without any feedback the
// rate stays where it started.
// The result always lies within the bounds, whatever the feedback says.
class SendRateController {
public:
    explicit SendRateController(RateBounds bounds);

    // One transport-wide feedback report: packets in send order.
    void onTransportFeedback(const std::vector<PacketFeedback>& packets, std::int64_t nowUs);
    // A receiver report's fraction of packets lost since the previous one.
    void onReceiverReport(double fractionLost, std::int64_t nowUs);

    std::int64_t targetBps() const;
    // The rate to probe the path at now, when a probe is due: the caller
    // sends a short burst of retransmitted copies at it, which the feedback
    // then marks.
    std::optional<std::int64_t> startProbe(std::int64_t nowUs);
    // How fast the pacer lets the target's packets go.
    std::int64_t pacingBps() const { return pacing_.bps(targetBps()); }
    // What a packet waits in the path's queues now.
    std::int64_t queueDelayUs() const { return queue_.delayUs(); }
    // The frame rate the target affords without blurring the picture: screen
    // content keeps its resolution and gives up frames first.
    double frameRate(std::int64_t pixels, double captureFps) const;

private:
    std::optional<std::int64_t> measuredDelayBasedBps() const;

    TrendlineDetector detector_;
    ReceivedRate received_;
    StandingQueue queue_;
    OutageWatch outage_;
    DelayBasedRate delayBased_;
    LossBasedRate lossBased_;
    PacingRate pacing_;
    RateProbe probe_;
    const std::int64_t maximumBps_;
};

}  // namespace native_worker::congestion
