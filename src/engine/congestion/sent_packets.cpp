#include "engine/congestion/sent_packets.h"

#include <algorithm>

namespace native_worker::congestion {

void SentPackets::onSent(const Packet& packet) {
    while (!packets_.empty() && packets_.front().sentUs < packet.sentUs - keptUs) packets_.pop_front();
    packets_.push_back(packet);
}

SentPackets::Answer SentPackets::onRequest(std::uint32_t ssrc, std::uint32_t sequence, std::int64_t nowUs,
                                           std::int64_t pathQueueUs) {
    const Packet* packet = find(ssrc, sequence);
    const std::int64_t windowUs = std::min(repairWindowUs + std::max<std::int64_t>(0, pathQueueUs), keptUs);
    if (packet && packet->sentUs >= nowUs - windowUs) return {packet->bytes, false};
    // A key frame asked for since the packet left replaces it; for a packet
    // no longer kept, one asked for within the time packets are kept does.
    const bool replaced =
        keyFrameAskedUs_ && (packet ? packet->sentUs < *keyFrameAskedUs_ : nowUs - *keyFrameAskedUs_ < keptUs);
    if (!replaced) keyFrameAskedUs_ = nowUs;
    return {std::nullopt, !replaced};
}

const SentPackets::Packet* SentPackets::find(std::uint32_t ssrc, std::uint32_t sequence) const {
    // Newest first: a request names a recent packet.
    const auto found = std::find_if(packets_.rbegin(), packets_.rend(), [&](const Packet& packet) {
        return packet.ssrc == ssrc && packet.sequence == sequence;
    });
    return found == packets_.rend() ? nullptr : &*found;
}

std::vector<SentPackets::Packet> SentPackets::latest(std::size_t count) const {
    return {packets_.rbegin(), packets_.rbegin() + static_cast<std::ptrdiff_t>(std::min(count, packets_.size()))};
}

}  // namespace native_worker::congestion
