#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

namespace native_worker::congestion {

// The media packets that left lately: what a receiver's request for a copy
// names, and what a probe sends again.
//
// A copy repairs a picture only while the receiver still waits for it. A path
// back from an outage, or one that lost most of a frame's packets to a step
// down, asks for seconds of lost packets at once; copies of them would only
// bring stale pictures, and if they took their share of the rate (or, once the
// retransmitter no longer holds them, reserved it for nothing) they would hold
// back the new frames that end the freeze. So a request for a packet sent
// longer ago than that, or never sent, gets no copy. The receiver would go on
// asking for it for seconds before it asks for a key frame: the sender sends
// one at once instead, unless one it sent since that packet left replaces it.
class SentPackets {
public:
    struct Packet {
        std::uint32_t ssrc = 0;
        std::uint32_t sequence = 0;
        std::uint32_t bytes = 0;
        std::int64_t sentUs = 0;
    };

    // How long a packet is kept, for the longest repair and beyond; the
    // retransmitter must keep its copies at least this long.
    static constexpr std::int64_t keptUs = 2'000'000;
    // Beyond the path's queue, which every copy waits through, how long a
    // receiver waits for a repair: about the longest a desktop's user waits
    // for a picture rather than see a new one replace it.
    static constexpr std::int64_t repairWindowUs = 500'000;

    // What a request for a copy calls for: the copy, of so many bytes, or
    // else perhaps a key frame.
    struct Answer {
        std::optional<std::uint32_t> copyBytes;
        bool keyFrame = false;
    };

    void onSent(const Packet& packet);
    Answer onRequest(std::uint32_t ssrc, std::uint32_t sequence, std::int64_t nowUs, std::int64_t pathQueueUs);
    // At most `count` of the packets that left last, newest first.
    std::vector<Packet> latest(std::size_t count) const;

private:
    const Packet* find(std::uint32_t ssrc, std::uint32_t sequence) const;

    std::deque<Packet> packets_;  // oldest first
    std::optional<std::int64_t> keyFrameAskedUs_;
};

}  // namespace native_worker::congestion
