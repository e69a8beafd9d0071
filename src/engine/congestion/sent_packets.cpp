#include "engine/congestion/sent_packets.h"

#include <algorithm>

namespace native_worker::congestion {

void SentPackets::onSent(const Packet& packet) {
    while (!packets_.empty() && packets_.front().sentUs < packet.sentUs - keptUs) packets_.pop_front();
    packets_.push_back(packet);
}

std::optional<SentPackets::Packet> SentPackets::repairable(std::uint32_t ssrc, std::uint32_t sequence,
                                                           std::int64_t nowUs, std::int64_t pathQueueUs) const {
    const std::int64_t since = nowUs - std::min(repairWindowUs + std::max<std::int64_t>(0, pathQueueUs), keptUs);
    // Newest first: a request names a recent packet, and the search ends at the first too old.
    for (auto packet = packets_.rbegin(); packet != packets_.rend() && packet->sentUs >= since; ++packet)
        if (packet->ssrc == ssrc && packet->sequence == sequence) return *packet;
    return std::nullopt;
}

std::vector<SentPackets::Packet> SentPackets::latest(std::size_t count) const {
    return {packets_.rbegin(), packets_.rbegin() + static_cast<std::ptrdiff_t>(std::min(count, packets_.size()))};
}

}  // namespace native_worker::congestion
