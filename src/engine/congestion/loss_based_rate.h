#pragma once

#include "engine/congestion/packet_feedback.h"
#include "engine/congestion/rate_bounds.h"

#include <cstdint>
#include <optional>

namespace native_worker::congestion {

// The loss-based half of Google Congestion Control: more than 10 % lost cuts
// the rate by half the share lost, less than 2 % lets it grow by 5 % per
// 200 ms (half again a second far below what the path has carried), in
// between it holds. Transport-wide feedback is judged every 200 ms, given
// enough packets; a receiver report's fraction as it comes.
//
// Until a verdict shows loss beyond chance (2 %), it follows the delay-based
// rate rather than hold it back. From then on it limits that rate, and
// follows it again only once its own bounded growth has reached it: a path
// that lost packets must show it carries more before it is sent more, and one
// that loses a few in a hundred at any rate is sent no more than when the
// losses began, since more packets a frame only lose more frames. After an
// outage it follows again: the outage's losses say nothing of the path that
// carries again. Nor does a window in which the sender used little of its
// rate (a still screen): it is no verdict on that rate, either way.
class LossBasedRate {
public:
    explicit LossBasedRate(const RateBounds& bounds);

    // One transport-wide feedback report. `delayBasedBps`: the other half's
    // rate, once it has one; below `fastClimbBelowBps`, far under what the
    // path has carried, the rate climbs back as fast as that half's.
    void onReport(const ReportTally& report, std::optional<std::int64_t> delayBasedBps, double fastClimbBelowBps,
                  std::int64_t nowUs);
    void onFractionLost(double fractionLost, std::optional<std::int64_t> delayBasedBps, std::int64_t nowUs);
    void onOutageEnded(std::int64_t nowUs);

    // The rate loss allows, never above the delay-based rate.
    std::int64_t bps(std::optional<std::int64_t> delayBasedBps) const;

private:
    enum class State { following, limiting };

    // Growth counts `growthUs` of time without loss.
    void judge(double fractionLost, std::optional<std::int64_t> delayBasedBps, std::int64_t growthUs,
               double fastClimbBelowBps);
    void restartWindow(std::int64_t nowUs);

    const RateBounds bounds_;
    State state_ = State::following;
    std::int64_t bps_;
    std::optional<std::int64_t> lastReceiverReportUs_;
    std::optional<std::int64_t> windowStartUs_;
    ReportTally window_;
};

}  // namespace native_worker::congestion
