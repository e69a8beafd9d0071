#include "engine/congestion/repeated_requests.h"

#include <algorithm>

namespace native_worker::congestion {

bool RepeatedRequests::copyUnderWay(std::uint32_t ssrc, std::uint32_t sequence, std::int64_t nowUs,
                                    std::int64_t spacingUs) const {
    const std::int64_t since = nowUs - std::min(spacingUs, longestSpacingUs);
    return std::any_of(copies_.begin(), copies_.end(), [&](const Copy& copy) {
        return copy.ssrc == ssrc && copy.sequence == sequence && copy.sentUs > since;
    });
}

void RepeatedRequests::onCopySent(std::uint32_t ssrc, std::uint32_t sequence, std::int64_t nowUs) {
    while (!copies_.empty() && copies_.front().sentUs < nowUs - longestSpacingUs) copies_.pop_front();
    copies_.push_back({nowUs, ssrc, sequence});
}

}  // namespace native_worker::congestion
