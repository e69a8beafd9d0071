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
    bool retransmission = false;  // a copy: a probe's, or one the receiver asked for
};

// What one report says of the packets it covers.
struct ReportTally {
    int sent = 0;
    int lost = 0;
    std::int64_t sentBytes = 0;

    // A share of fewer packets than `packetsToJudge` is chance, not a measure.
    bool lostMoreThan(double share, int packetsToJudge) const { return sent >= packetsToJudge && lost > share * sent; }
    bool lostLessThan(double share) const { return lost < share * sent; }
};

}  // namespace native_worker::congestion
