#include "engine/congestion/send_rate_controller.h"

#include <algorithm>
#include <cmath>

namespace native_worker::congestion {
namespace {

constexpr double decreaseFactor = 0.85;
constexpr double increasePerSecond = 1.08;
// Until the path first shows a queue, the rate climbs fast enough to fill a
// fast LAN within seconds; a start high enough for that would flood slow links.
// So it does far below a rate the path has carried.
constexpr double startupIncreasePerSecond = 1.5;
constexpr double farBelowProven = 0.5;
// A report losing more than this starts an outage, not a measure of capacity.
constexpr double outageLoss = 0.5;
// Back from an outage the rate doubles about every third of a second, as
// probing the path would, up to near the rate the path carried before: a
// queue on the way stops it within a few reports.
constexpr double recoveryIncreasePerSecond = 8;
constexpr double recoveredShareOfProven = 0.85;
// Near the capacity found at the last decrease, probe gently.
constexpr double nearCapacity = 0.15;
constexpr double additiveShare = 0.05;
constexpr double additiveFloorBps = 8'000;
// An idle sender must not claim a rate it never proved.
constexpr double headroomOverReceived = 1.5;
constexpr double headroomBps = 10'000;
constexpr std::int64_t decreaseSpacingUs = 200'000;
constexpr std::int64_t longestIncreaseStepUs = 1'000'000;
constexpr std::int64_t receivedWindowUs = 500'000;
constexpr std::int64_t lossWindowUs = 1'000'000;
constexpr std::int64_t delayFloorBucketUs = 1'000'000;
constexpr std::size_t delayFloorBuckets = 10;
// A standing queue above this is drained; below the first, the rate may grow.
constexpr std::int64_t queueToDrainUs = 100'000;
constexpr std::int64_t queueToHoldUs = 50'000;
constexpr double drainWithinSeconds = 1.0;
constexpr double deepestDrain = 0.5;
constexpr double lowLoss = 0.02;
constexpr double highLoss = 0.10;
constexpr double lossIncrease = 1.05;
// Bits a frame of screen content needs per pixel before it visibly blurs.
constexpr double bitsPerPixelFloor = 0.03;
constexpr double lowestFrameRate = 5;

double seconds(std::int64_t us) {
    return static_cast<double>(us) / 1e6;
}

}  // namespace

SendRateController::SendRateController(RateBounds bounds)
    : bounds_(bounds), delayBasedBps_(bounded(static_cast<double>(bounds.startBps))), lossBasedBps_(delayBasedBps_) {}

std::int64_t SendRateController::bounded(double bps) const {
    if (!std::isfinite(bps)) return bounds_.maximumBps;
    return std::clamp(static_cast<std::int64_t>(bps), bounds_.minimumBps, bounds_.maximumBps);
}

std::int64_t SendRateController::targetBps() const {
    return std::min(delayBasedBps_, lossBasedBps_);
}

double SendRateController::frameRate(std::int64_t pixels, double captureFps) const {
    if (pixels <= 0) return captureFps;
    const double affordable = static_cast<double>(targetBps()) / (static_cast<double>(pixels) * bitsPerPixelFloor);
    return std::clamp(affordable, std::min(lowestFrameRate, captureFps), captureFps);
}

void SendRateController::onTransportFeedback(const std::vector<PacketFeedback>& packets, std::int64_t nowUs) {
    if (packets.empty()) return;
    if (lossWindowStartUs_ < 0) lossWindowStartUs_ = nowUs;
    for (const PacketFeedback& packet : packets) {
        ++lossWindowSent_;
        if (!packet.arrivalTimeUs) {
            ++lossWindowLost_;
            continue;
        }
        detector_.onPacket(packet.sendTimeUs, *packet.arrivalTimeUs, nowUs);
        const std::int64_t arrival = *packet.arrivalTimeUs;
        trackOneWayDelay(arrival - packet.sendTimeUs, nowUs);
        // Arrival times only count forward; a report from another clock starts over.
        if (!arrivals_.empty() && (arrival < arrivals_.back().first - receivedWindowUs ||
                                   arrival > arrivals_.back().first + 10 * receivedWindowUs)) {
            arrivals_.clear();
            arrivedBytes_ = 0;
        }
        arrivals_.emplace_back(std::max(arrival, arrivals_.empty() ? arrival : arrivals_.back().first), packet.bytes);
        arrivedBytes_ += packet.bytes;
        while (arrivals_.front().first < arrivals_.back().first - receivedWindowUs) {
            arrivedBytes_ -= arrivals_.front().second;
            arrivals_.pop_front();
        }
    }
    int lost = 0;
    for (const PacketFeedback& packet : packets) lost += !packet.arrivalTimeUs;
    trackOutage(static_cast<double>(lost) / static_cast<double>(packets.size()), nowUs);
    if (const auto received = receivedBps(); received && !outage_) provenBps_ = std::max(provenBps_, *received);
    updateDelayBased(detector_.usage(), nowUs);
    if (nowUs - lossWindowStartUs_ >= lossWindowUs) {
        updateLossBased(static_cast<double>(lossWindowLost_) / lossWindowSent_, nowUs);
        restartLossWindow(nowUs);
    }
}

void SendRateController::restartLossWindow(std::int64_t nowUs) {
    lossWindowStartUs_ = nowUs;
    lossWindowSent_ = 0;
    lossWindowLost_ = 0;
}

// Reports from within an outage (few packets, long queued) show the outage,
// not the path: they neither prove nor disprove a rate. Once the link carries
// again, the delay trend, the losses and the loss-based cuts of the outage are
// left behind.
void SendRateController::trackOutage(double fractionLost, std::int64_t nowUs) {
    if (!outage_ && fractionLost > outageLoss) {
        outage_ = true;
        lossBasedBeforeOutage_ = lossBasedBps_;
    } else if (outage_ && fractionLost < highLoss && queueDelayUs_ <= queueToDrainUs) {
        outage_ = false;
        recovering_ = true;
        detector_ = TrendlineDetector{};
        lossBasedBps_ = std::max(lossBasedBps_, lossBasedBeforeOutage_);
        restartLossWindow(nowUs);
    }
}

void SendRateController::onReceiverReport(double fractionLost, std::int64_t nowUs) {
    if (!(fractionLost >= 0 && fractionLost <= 1)) return;
    updateLossBased(fractionLost, nowUs);
}

void SendRateController::trackOneWayDelay(std::int64_t oneWayUs, std::int64_t nowUs) {
    if (delayFloor_.empty() || nowUs - delayFloor_.back().first >= delayFloorBucketUs) {
        delayFloor_.emplace_back(nowUs, oneWayUs);
        if (delayFloor_.size() > delayFloorBuckets) delayFloor_.pop_front();
    } else {
        delayFloor_.back().second = std::min(delayFloor_.back().second, oneWayUs);
    }
    std::int64_t floor = oneWayUs;
    for (const auto& bucket : delayFloor_) floor = std::min(floor, bucket.second);
    // A clock jump shows as an absurd queue: it is the detector's to reset, not a reason to starve.
    queueDelayUs_ = std::clamp<std::int64_t>(oneWayUs - floor, 0, 10'000'000);
}

std::optional<std::int64_t> SendRateController::receivedBps() const {
    if (arrivals_.size() < 2) return std::nullopt;
    const std::int64_t span = arrivals_.back().first - arrivals_.front().first;
    if (span < receivedWindowUs / 2) return std::nullopt;
    return static_cast<std::int64_t>(static_cast<double>(arrivedBytes_) * 8 / seconds(span));
}

void SendRateController::updateDelayBased(BandwidthUsage usage, std::int64_t nowUs) {
    const std::int64_t elapsedUs =
        std::clamp<std::int64_t>(lastDelayUpdateUs_ ? nowUs - *lastDelayUpdateUs_ : 0, 0, longestIncreaseStepUs);
    lastDelayUpdateUs_ = nowUs;
    const auto received = receivedBps();
    const bool standingQueue = queueDelayUs_ > queueToDrainUs;
    if (usage == BandwidthUsage::overusing || standingQueue) {
        if (!received || (lastDecreaseUs_ && nowUs - *lastDecreaseUs_ < decreaseSpacingUs)) return;
        const double measured = static_cast<double>(*received);
        // A queue after climbing back, or fast below the proven rate, shows the
        // path lost capacity for good; one that lasts from before the last cut does not.
        if (!outage_ && climbedSinceDecrease_ &&
            (recovering_ || static_cast<double>(delayBasedBps_) < farBelowProven * static_cast<double>(provenBps_)))
            provenBps_ = *received;
        recovering_ = false;
        climbedSinceDecrease_ = false;
        linkCapacityBps_ = linkCapacityBps_ ? 0.95 * *linkCapacityBps_ + 0.05 * measured : measured;
        double factor = decreaseFactor;
        if (standingQueue)
            factor = std::min(factor, std::max(deepestDrain, 1 - seconds(queueDelayUs_) / drainWithinSeconds));
        // Cut from what got through, not from the target: repeated cuts while
        // the queue drains do not compound.
        delayBasedBps_ = bounded(std::min(factor * measured, static_cast<double>(delayBasedBps_)));
        lastDecreaseUs_ = nowUs;
        return;
    }
    if (outage_) return;  // nothing gets through: nothing to climb on
    if (usage == BandwidthUsage::underusing || queueDelayUs_ > queueToHoldUs) return;  // the queue drains: hold
    double next = static_cast<double>(delayBasedBps_);
    const double proven = static_cast<double>(provenBps_);
    const bool probingNearCapacity =
        linkCapacityBps_ && std::abs(next - *linkCapacityBps_) < nearCapacity * *linkCapacityBps_;
    // Back from an outage the sender has sent little of late: the received rate
    // does not hold it, the rate the path carried before does.
    const bool climbingBack = recovering_;
    if (climbingBack) {
        next = std::max(next, std::min(next * std::pow(recoveryIncreasePerSecond, seconds(elapsedUs)),
                                       recoveredShareOfProven * proven));
        recovering_ = next < recoveredShareOfProven * proven;
    } else if (probingNearCapacity) next += std::max(additiveFloorBps, additiveShare * next) * seconds(elapsedUs);
    else {
        const bool climbFast = !lastDecreaseUs_ || next < farBelowProven * proven;
        next *= std::pow(climbFast ? startupIncreasePerSecond : increasePerSecond, seconds(elapsedUs));
    }
    if (received && !climbingBack) next = std::min(next, headroomOverReceived * static_cast<double>(*received) + headroomBps);
    // The cap on an idle sender holds the rate; it does not cut it.
    if (next > static_cast<double>(delayBasedBps_)) {
        delayBasedBps_ = bounded(next);
        climbedSinceDecrease_ = true;
    }
}

void SendRateController::updateLossBased(double fractionLost, std::int64_t nowUs) {
    const double elapsed = lastLossUpdateUs_ ? std::clamp(seconds(nowUs - *lastLossUpdateUs_), 0.0, 1.0) : 1.0;
    lastLossUpdateUs_ = nowUs;
    double next = static_cast<double>(lossBasedBps_);
    // Where the delay-based rate is measured, little loss leaves it in charge.
    if (fractionLost < lowLoss)
        next = std::max(next * std::pow(lossIncrease, elapsed),
                        lastDelayUpdateUs_ ? static_cast<double>(delayBasedBps_) : 0.0);
    else if (fractionLost > highLoss) next *= 1 - 0.5 * fractionLost;
    lossBasedBps_ = bounded(next);
}

}  // namespace native_worker::congestion
