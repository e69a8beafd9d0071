#include "engine/congestion/delay_based_rate.h"

#include <algorithm>
#include <cmath>

namespace native_worker::congestion {
namespace {

constexpr double decreaseFactor = 0.85;
constexpr double increasePerSecond = 1.08;
// Back from an outage the rate doubles about every third of a second, as
// probing the path would, up to near the rate the path carried before: a
// queue on the way stops it within a few reports.
constexpr double returnIncreasePerSecond = 8;
constexpr double returnedShareOfProven = 0.85;
// Near the capacity found at the last cuts, the rate grows by half a packet
// per response time, as the draft's additive increase does: the response
// time is 100 ms and a round trip, which is not measured here.
constexpr double nearCapacity = 0.15;
constexpr double packetBits = 1200 * 8;
constexpr double framesPerSecond = 30;
constexpr double responseSeconds = 0.1 + 0.1;
constexpr double slowestAdditiveBpsPerSecond = 4'000;
constexpr double headroomOverReceived = 1.5;
constexpr double headroomBps = 10'000;
constexpr std::int64_t decreaseSpacingUs = 200'000;
constexpr std::int64_t longestIncreaseStepUs = 1'000'000;
// A standing queue above this is drained; below the first, the rate may grow.
constexpr std::int64_t queueToDrainUs = 100'000;
constexpr std::int64_t queueToHoldUs = 50'000;
constexpr double drainWithinSeconds = 1.0;
constexpr double deepestDrain = 0.5;
// More growth than delay swings make, while a drain cut was on its way.
constexpr std::int64_t queueGrowthUs = 50'000;
// A cut far below the proven rate shows capacity gone only with this much
// queue standing: less is another flow's delay swing.
constexpr std::int64_t queueOfLostCapacityUs = 50'000;
// On a buffer too shallow to show a queue, loss this heavy, in a report of
// packets enough to judge, stops the climb back.
constexpr double returnStoppingLoss = 0.1;
constexpr int returnStoppingPackets = 4;

double seconds(std::int64_t us) {
    return static_cast<double>(us) / 1e6;
}

// About 24 kbit/s a second at any rate where a frame fills a packet.
double additiveBpsPerSecond(double bps) {
    const double frameBits = bps / framesPerSecond;
    const double averagePacketBits = frameBits / std::max(1.0, std::ceil(frameBits / packetBits));
    return std::max(slowestAdditiveBpsPerSecond, 0.5 * averagePacketBits / responseSeconds);
}

}  // namespace

DelayBasedRate::DelayBasedRate(const RateBounds& bounds)
    : bounds_(bounds), bps_(bounds.clamp(static_cast<double>(bounds.startBps))) {}

void DelayBasedRate::onReport(const DelaySignals& signals, std::int64_t nowUs) {
    if (signals.receivedBps && !signals.outage) provenBps_ = std::max(provenBps_, *signals.receivedBps);
    const std::int64_t elapsedUs =
        std::clamp<std::int64_t>(lastUpdateUs_ ? nowUs - *lastUpdateUs_ : 0, 0, longestIncreaseStepUs);
    lastUpdateUs_ = nowUs;
    guessing_ = false;
    foreignQueue_ = false;
    const bool lossStopsReturn =
        phase_ == Phase::returning && signals.report.lostMoreThan(returnStoppingLoss, returnStoppingPackets);
    if (signals.usage == BandwidthUsage::overusing || drainDue(signals, nowUs) || lossStopsReturn) {
        decrease(signals, nowUs);
        return;
    }
    if (signals.outage) return;  // nothing gets through: nothing to climb on
    if (signals.usage == BandwidthUsage::underusing || signals.ownQueueUs > queueToHoldUs) return;  // it drains: hold
    increase(signals, seconds(elapsedUs));
}

void DelayBasedRate::onOutageEnded(std::int64_t targetBps, std::optional<std::int64_t> carriedBps) {
    bps_ = std::min(bps_, targetBps);
    if (carriedBps) {
        // The capacity left is measured, not a sample to average into the one
        // found before: the rate neither guesses nor probes its way past it.
        provenBps_ = *carriedBps;
        linkCapacityBps_ = static_cast<double>(*carriedBps);
    } else {
        const double unknownPathBps =
            std::min(static_cast<double>(bounds_.startBps), returnedShareOfProven * static_cast<double>(provenBps_));
        bps_ = std::max(bps_, bounds_.clamp(unknownPathBps));
    }
    phase_ = Phase::returning;
}

void DelayBasedRate::onProbe(std::int64_t deliveredBps) {
    if (!guessing_ || deliveredBps <= bps_) return;
    provenBps_ = std::max(provenBps_, deliveredBps);
    bps_ = bounds_.clamp(static_cast<double>(deliveredBps));
    // The capacity found at the last cuts is the past: the next cut measures it afresh.
    linkCapacityBps_.reset();
}

// A drain cut is sized to empty the sender's queue within a second; it shows
// only once the packets sent after it have crossed that queue. Cutting again
// before would cut for the same queue twice, and from a received rate the
// first cut already lowered. A queue that grew meanwhile is still being built
// (the cut came from a rate the path no longer carries); one that neither
// grew nor drained is not the sender's: another flow holds it.
bool DelayBasedRate::drainDue(const DelaySignals& signals, std::int64_t nowUs) {
    if (signals.ownQueueUs <= queueToDrainUs) {
        pendingDrain_.reset();
        return false;
    }
    if (!pendingDrain_) return true;
    if (nowUs < pendingDrain_->showsByUs) return false;
    const bool grew = signals.queueUs > pendingDrain_->queueUs + queueGrowthUs;
    pendingDrain_.reset();
    foreignQueue_ = !grew;
    return grew;
}

void DelayBasedRate::decrease(const DelaySignals& signals, std::int64_t nowUs) {
    if (!signals.receivedBps || (lastDecreaseUs_ && nowUs - *lastDecreaseUs_ < decreaseSpacingUs)) return;
    // A sender that was idle for part of the longer window would cut to far
    // below what the path carries now: the recent rate says what it does.
    const double measured = static_cast<double>(std::max(*signals.receivedBps, signals.recentReceivedBps.value_or(0)));
    // A queue (or heavy loss) after climbing back shows the path lost capacity
    // for good, and so does a cut fast below the proven rate while a queue
    // stands. Only a climb the sender used counts: not one while the
    // loss-based rate held the sender lower. A download's start and delay
    // swings take a share that the rate then wins back fast.
    const bool farBelow = static_cast<double>(bps_) < fastClimbBelowBps();
    if (!signals.outage && climbedSinceDecrease_ &&
        (phase_ == Phase::returning || (farBelow && signals.queueUs > queueOfLostCapacityUs)))
        provenBps_ = *signals.receivedBps;
    phase_ = Phase::steady;
    climbedSinceDecrease_ = false;
    linkCapacityBps_ = linkCapacityBps_ ? 0.95 * *linkCapacityBps_ + 0.05 * measured : measured;
    double factor = decreaseFactor;
    if (signals.ownQueueUs > queueToDrainUs && !pendingDrain_) {
        factor = std::min(factor, std::max(deepestDrain, 1 - seconds(signals.ownQueueUs) / drainWithinSeconds));
        pendingDrain_ = PendingDrain{nowUs + signals.queueUs + static_cast<std::int64_t>(drainWithinSeconds * 1e6),
                                     signals.queueUs};
    }
    // Cut from what got through, not from the target, which the path may
    // not have carried.
    bps_ = bounds_.clamp(std::min(factor * measured, static_cast<double>(bps_)));
    lastDecreaseUs_ = nowUs;
}

void DelayBasedRate::increase(const DelaySignals& signals, double elapsedSeconds) {
    double next = static_cast<double>(bps_);
    const double proven = static_cast<double>(provenBps_);
    switch (phase_) {
        case Phase::returning:
            // The sender has sent little of late: the received rate does not hold
            // it, the rate the path carried before does.
            next = std::max(next, std::min(next * std::pow(returnIncreasePerSecond, elapsedSeconds),
                                           returnedShareOfProven * proven));
            if (next >= returnedShareOfProven * proven) phase_ = lastDecreaseUs_ ? Phase::steady : Phase::startup;
            break;
        case Phase::startup:
        case Phase::steady:
            // An idle sender must not claim a rate it never proved: the rate climbs
            // to half again what the receiver gets, so that a sender using its rate
            // finds more, and not at all while the receiver gets too little to
            // measure (a still screen).
            if (!signals.receivedBps) return;
            if (linkCapacityBps_ && std::abs(next - *linkCapacityBps_) < nearCapacity * *linkCapacityBps_) {
                next += additiveBpsPerSecond(next) * elapsedSeconds;
            } else {
                const bool climbFast = phase_ == Phase::startup || next < fastClimbBelowBps();
                guessing_ = phase_ == Phase::steady;
                next *= std::pow(climbFast ? fastIncreasePerSecond : increasePerSecond, elapsedSeconds);
            }
            next = std::min(next, headroomOverReceived * static_cast<double>(*signals.receivedBps) + headroomBps);
            break;
    }
    // The cap on an idle sender holds the rate; it does not cut it.
    if (next > static_cast<double>(bps_)) {
        bps_ = bounds_.clamp(next);
        if (signals.sending) climbedSinceDecrease_ = true;
    }
}

}  // namespace native_worker::congestion
