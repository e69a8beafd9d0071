#include "engine/congestion/rate_probe.h"

#include <algorithm>

namespace native_worker::congestion {
namespace {

// A probe's copies leave closer together than this; a packet sent this long
// after the last one shows that the probe is over.
constexpr std::int64_t burstEndGapUs = 100'000;

}  // namespace

std::optional<std::int64_t> RateProbe::start(bool guessing, std::int64_t targetBps, std::int64_t maximumBps,
                                             std::int64_t nowUs) {
    if (!guessing) {
        guessingSinceUs_.reset();
        return std::nullopt;
    }
    if (!guessingSinceUs_) guessingSinceUs_ = nowUs;
    const std::int64_t probeBps =
        std::min(static_cast<std::int64_t>(overTarget * static_cast<double>(targetBps)), maximumBps);
    if (startedUs_ || nowUs - *guessingSinceUs_ < guessingBeforeProbeUs || nowUs < notBeforeUs_ ||
        probeBps <= targetBps)
        return std::nullopt;
    startedUs_ = nowUs;
    probedBps_ = probeBps;
    burst_.clear();
    return probeBps;
}

std::optional<std::int64_t> RateProbe::onFeedback(const std::vector<PacketFeedback>& packets, std::int64_t nowUs) {
    if (!startedUs_) return std::nullopt;
    for (const PacketFeedback& packet : packets)
        if (!burst_.empty() || packet.retransmission) burst_.push_back(packet);
    const auto lastCopy = std::find_if(burst_.rbegin(), burst_.rend(),
                                       [](const PacketFeedback& packet) { return packet.retransmission; });
    const bool over = lastCopy != burst_.rend() && burst_.back().sendTimeUs - lastCopy->sendTimeUs >= burstEndGapUs;
    if (!over && nowUs - *startedUs_ < resultPatienceUs) return std::nullopt;
    if (lastCopy != burst_.rend()) burst_.erase(lastCopy.base(), burst_.end());
    // The probe shows no more than it asked of the path.
    auto result = over ? measure() : std::nullopt;
    if (result) result = std::min(*result, probedBps_);
    const bool found = result && static_cast<double>(*result) >= foundShare * static_cast<double>(probedBps_);
    notBeforeUs_ = nowUs + (found ? afterFoundUs : afterFailedUs);
    startedUs_.reset();
    burst_.clear();
    return result;
}

// The lower of the rates the burst left and arrived at: the bytes of the
// packet that closes the sending span, and of the one that opens the arrival
// span, took no time of it.
std::optional<std::int64_t> RateProbe::measure() const {
    std::int64_t arrived = 0, arrivedBytes = 0, sentBytes = 0;
    std::int64_t firstArrivalUs = 0, lastArrivalUs = 0, firstArrivalBytes = 0;
    for (const PacketFeedback& packet : burst_) {
        sentBytes += packet.bytes;
        if (!packet.arrivalTimeUs) continue;
        if (arrived == 0 || *packet.arrivalTimeUs < firstArrivalUs) {
            firstArrivalUs = *packet.arrivalTimeUs;
            firstArrivalBytes = packet.bytes;
        }
        lastArrivalUs = arrived == 0 ? *packet.arrivalTimeUs : std::max(lastArrivalUs, *packet.arrivalTimeUs);
        ++arrived;
        arrivedBytes += packet.bytes;
    }
    const std::int64_t sendSpanUs = burst_.empty() ? 0 : burst_.back().sendTimeUs - burst_.front().sendTimeUs;
    const std::int64_t arrivalSpanUs = lastArrivalUs - firstArrivalUs;
    if (arrived < packetsToMeasure || sendSpanUs <= 0 || arrivalSpanUs <= 0) return std::nullopt;
    const std::int64_t sentBps = (sentBytes - burst_.back().bytes) * 8'000'000 / sendSpanUs;
    const std::int64_t arrivedBps = (arrivedBytes - firstArrivalBytes) * 8'000'000 / arrivalSpanUs;
    return std::min(sentBps, arrivedBps);
}

}  // namespace native_worker::congestion
