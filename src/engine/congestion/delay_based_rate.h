#pragma once

#include "engine/congestion/packet_feedback.h"
#include "engine/congestion/rate_bounds.h"
#include "engine/congestion/trendline_detector.h"

#include <cstdint>
#include <optional>

namespace native_worker::congestion {

// What one transport-wide feedback report tells the delay-based rate.
struct DelaySignals {
    BandwidthUsage usage = BandwidthUsage::normal;
    std::int64_t queueUs = 0;     // all that stands, other flows' too
    std::int64_t ownQueueUs = 0;  // the standing queue the sender answers for
    std::optional<std::int64_t> receivedBps;
    std::optional<std::int64_t> recentReceivedBps;  // over a shorter window
    ReportTally report;
    bool outage = false;
    bool sending = true;  // the sender sends at this rate: another does not hold it lower
};

// The delay-based half of Google Congestion Control: AIMD on the rate the
// receiver got, driven by the trendline detector, plus a cut by the standing
// queue the sender answers for, so that a queue built before the first
// overuse was seen drains within about a second instead of lingering while
// the rate holds.
//
// It climbs in one of three phases. In start-up, until the path first shows a
// queue, fast enough to fill a fast LAN within seconds (a start high enough
// for that would flood slow links). Steady, it probes gently near the capacity
// found at the last cuts, and climbs fast again far below a rate the path has
// carried. Returning from an outage, it climbs about as fast as probing would
// to near the rate the path carried before, unless a queue or heavy loss shows
// on the way.
class DelayBasedRate {
public:
    explicit DelayBasedRate(const RateBounds& bounds);

    void onReport(const DelaySignals& signals, std::int64_t nowUs);
    // Back from an outage, the climb starts from `targetBps`, the rate the
    // outage left, whatever this half held: a blackout, through which nothing
    // arrived to measure, cuts only the loss-based rate. It climbs to near the
    // rate proven before, or to `carriedBps`, what a path that lost capacity
    // rather than went dark kept carrying through it. A dark path that carries
    // again is as unknown as a new one: the climb starts no lower than a new
    // path's start, or the rate it carried before if that was less, rather
    // than from the trickle the dark let through, which would hold the first
    // pictures after it to a few poor frames for seconds.
    void onOutageEnded(std::int64_t targetBps, std::optional<std::int64_t> carriedBps);

    // A probe's result lifts a rate that still climbs by guess to what the
    // path delivered, which it has then carried.
    void onProbe(std::int64_t deliveredBps);

    std::int64_t bps() const { return bps_; }
    // Whether the last report let the rate climb by guess: a share a second,
    // past the start-up and away from any capacity found at the last cuts.
    bool guessing() const { return guessing_; }
    // Whether the last report found the standing queue outlasting a cut sized
    // to drain it: another flow's, which the sender no longer answers for.
    bool foreignQueue() const { return foreignQueue_; }
    bool measured() const { return lastUpdateUs_.has_value(); }
    std::int64_t provenBps() const { return provenBps_; }
    // Below this, far under what the path has carried, a rate climbs back fast.
    double fastClimbBelowBps() const { return farBelowProven * static_cast<double>(provenBps_); }
    static constexpr double fastIncreasePerSecond = 1.5;

private:
    enum class Phase { startup, steady, returning };

    static constexpr double farBelowProven = 0.5;

    bool drainDue(const DelaySignals& signals, std::int64_t nowUs);
    void decrease(const DelaySignals& signals, std::int64_t nowUs);
    void increase(const DelaySignals& signals, double elapsedSeconds);

    const RateBounds bounds_;
    std::int64_t bps_;
    Phase phase_ = Phase::startup;
    std::optional<std::int64_t> lastUpdateUs_;
    std::optional<std::int64_t> lastDecreaseUs_;
    std::optional<double> linkCapacityBps_;
    // The highest rate the receiver got, outages aside; forgotten when a queue
    // the sender built shows far below it or on the way back to it.
    std::int64_t provenBps_ = 0;
    bool climbedSinceDecrease_ = false;  // and the sender sent at the higher rate
    bool guessing_ = false;
    // A drain cut on its way: when it shows, and the queue it was cut for.
    struct PendingDrain {
        std::int64_t showsByUs;
        std::int64_t queueUs;
    };
    std::optional<PendingDrain> pendingDrain_;
    bool foreignQueue_ = false;
};

}  // namespace native_worker::congestion
