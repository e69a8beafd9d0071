#include "engine/congestion/send_rate_controller.h"

#include <algorithm>

namespace native_worker::congestion {
namespace {

// Bits a frame of screen content needs per pixel before it visibly blurs.
constexpr double bitsPerPixelFloor = 0.03;
constexpr double lowestFrameRate = 5;

}  // namespace

SendRateController::SendRateController(RateBounds bounds) : delayBased_(bounds), lossBased_(bounds) {}

std::int64_t SendRateController::targetBps() const {
    return std::min(delayBased_.bps(), lossBased_.bps());
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
    int lost = 0;
    for (const PacketFeedback& packet : packets) {
        if (!packet.arrivalTimeUs) {
            ++lost;
            continue;
        }
        detector_.onPacket(packet.sendTimeUs, *packet.arrivalTimeUs, nowUs);
        queue_.onArrival(*packet.arrivalTimeUs - packet.sendTimeUs, nowUs);
        received_.onArrival(*packet.arrivalTimeUs, packet.bytes);
    }
    const int sent = static_cast<int>(packets.size());
    switch (outage_.onReport(static_cast<double>(lost) / sent, queue_.delayUs())) {
    case OutageWatch::Change::began:
        lossBased_.onOutageBegan();
        break;
    case OutageWatch::Change::ended:
        // The delay trend the outage left is no measure of the link that carries again.
        detector_ = TrendlineDetector{};
        delayBased_.onOutageEnded();
        lossBased_.onOutageEnded(nowUs);
        break;
    case OutageWatch::Change::none:
        break;
    }
    delayBased_.onReport({detector_.usage(), queue_.delayUs(), received_.bps(), outage_.inOutage()}, nowUs);
    lossBased_.onPackets(sent, lost, measuredDelayBasedBps(), nowUs);
}

void SendRateController::onReceiverReport(double fractionLost, std::int64_t nowUs) {
    if (!(fractionLost >= 0 && fractionLost <= 1)) return;
    lossBased_.onFractionLost(fractionLost, measuredDelayBasedBps(), nowUs);
}

}  // namespace native_worker::congestion
