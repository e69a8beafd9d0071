#pragma once

#include "engine/congestion/rate_bounds.h"

#include <cstdint>
#include <optional>

namespace native_worker::congestion {

// The loss-based half of Google Congestion Control: heavy loss cuts the rate,
// little loss lets it grow. Transport-wide feedback is counted over about a
// second; a receiver report's fraction counts as it comes.
class LossBasedRate {
public:
    explicit LossBasedRate(const RateBounds& bounds);

    // Packets of one transport-wide feedback report. `delayBasedBps`: the other
    // half's rate, once it has one.
    void onPackets(int sent, int lost, std::optional<std::int64_t> delayBasedBps, std::int64_t nowUs);
    void onFractionLost(double fractionLost, std::optional<std::int64_t> delayBasedBps, std::int64_t nowUs);
    void onOutageBegan();
    void onOutageEnded(std::int64_t nowUs);

    std::int64_t bps() const { return bps_; }

private:
    void restartWindow(std::int64_t nowUs);

    const RateBounds bounds_;
    std::int64_t bps_;
    std::int64_t bpsBeforeOutage_ = 0;
    std::optional<std::int64_t> lastUpdateUs_;
    std::optional<std::int64_t> windowStartUs_;
    int windowSent_ = 0;
    int windowLost_ = 0;
};

}  // namespace native_worker::congestion
