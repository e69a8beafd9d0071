#include "engine/congestion/send_rate_controller.h"

#include <algorithm>

namespace native_worker::congestion {
namespace {

// Bits a frame of screen content needs per pixel before it visibly blurs.
constexpr double bitsPerPixelFloor = 0.02;
constexpr double lowestFrameRate = 5;
constexpr double usedShareToProbe = 0.5;

}  // namespace

SendRateController::SendRateController(RateBounds bounds)
    : delayBased_(bounds), lossBased_(bounds), maximumBps_(bounds.maximumBps) {}

std::int64_t SendRateController::targetBps() const {
    return lossBased_.bps(measuredDelayBasedBps());
}

std::optional<std::int64_t> SendRateController::startProbe(std::int64_t nowUs) {
    // Only a climb the sender uses is worth measuring: not one the loss-based
    // rate holds lower, nor one a still screen leaves unused, whose few small
    // packets would measure only their own burst.
    const auto received = received_.bps();
    const bool used = received && static_cast<double>(*received) >= usedShareToProbe * static_cast<double>(targetBps());
    const bool guessing = delayBased_.guessing() && used && targetBps() >= delayBased_.bps() && !outage_.inOutage();
    return probe_.start(guessing, targetBps(), maximumBps_, nowUs);
}

double SendRateController::frameRate(std::int64_t pixels, double captureFps) const {
    if (pixels <= 0) return captureFps;
    const double affordable = static_cast<double>(targetBps()) / (static_cast<double>(pixels) * bitsPerPixelFloor);
    return std::clamp(affordable, std::min(lowestFrameRate, captureFps), captureFps);
}

std::optional<std::int64_t> SendRateController::measuredDelayBasedBps() const {
    if (!delayBased_.measured()) return std::nullopt;
    return delayBased_.bps();
}

void SendRateController::onTransportFeedback(const std::vector<PacketFeedback>& packets, std::int64_t nowUs) {
    if (packets.empty()) return;
    ReportTally report{.sent = static_cast<int>(packets.size())};
    for (const PacketFeedback& packet : packets) {
        report.sentBytes += packet.bytes;
        if (!packet.arrivalTimeUs) {
            ++report.lost;
            pacing_.onLoss(queue_.delayUs(), nowUs);  // the queue the packet sent before it found
            continue;
        }
        detector_.onPacket(packet.sendTimeUs, *packet.arrivalTimeUs);
        queue_.onArrival(*packet.arrivalTimeUs - packet.sendTimeUs, nowUs);
        received_.onArrival(*packet.arrivalTimeUs, packet.bytes);
    }
    if (outage_.onReport(report, received_.bps(), delayBased_.provenBps(), queue_.delayUs())) {
        // The delay trend the outage left is no measure of the link that carries again.
        detector_ = TrendlineDetector{};
        delayBased_.onOutageEnded(targetBps(), outage_.carriedBps());
        lossBased_.onOutageEnded(nowUs);
    }
    const bool sending = targetBps() >= delayBased_.bps();
    delayBased_.onReport({detector_.usage(), queue_.delayUs(), queue_.ownDelayUs(), received_.bps(),
                          received_.recentBps(), report, outage_.inOutage(), sending},
                         nowUs);
    if (delayBased_.foreignQueue()) queue_.disown();
    if (const auto delivered = probe_.onFeedback(packets, nowUs)) delayBased_.onProbe(*delivered);
    lossBased_.onReport(report, measuredDelayBasedBps(), delayBased_.fastClimbBelowBps(), nowUs);
    pacing_.onReport(nowUs);
}

void SendRateController::onReceiverReport(double fractionLost, std::int64_t nowUs) {
    if (!(fractionLost >= 0 && fractionLost <= 1)) return;
    lossBased_.onFractionLost(fractionLost, measuredDelayBasedBps(), nowUs);
    if (fractionLost > 0) pacing_.onLoss(std::nullopt, nowUs);
    pacing_.onReport(nowUs);
}

}  // namespace native_worker::congestion
