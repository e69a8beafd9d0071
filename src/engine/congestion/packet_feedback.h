#pragma once

#include <cstdint>
#include <optional>

namespace native_worker::congestion {

// What the receiver's transport-wide feedback says of one sent packet. Send
// times are on the sender's clock, arrival times on the receiver's: only
// differences within one clock mean anything.
struct PacketFeedback {
    std::int64_t sendTimeUs = 0;
    std::optional<std::int64_t> arrivalTimeUs;  // none: reported lost
    std::uint32_t bytes = 0;
};

}  // namespace native_worker::congestion
