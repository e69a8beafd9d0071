#include "engine/congestion/pacing_rate.h"

namespace native_worker::congestion {

void PacingRate::onReport(bool lost, std::int64_t nowUs) {
    if (lost) lastLossUs_ = nowUs;
    gentle_ = lastLossUs_ && nowUs - *lastLossUs_ < gentleAfterLossUs;
}

std::int64_t PacingRate::bps(std::int64_t targetBps) const {
    return static_cast<std::int64_t>((gentle_ ? gentleOverTarget : fastOverTarget) * static_cast<double>(targetBps));
}

}  // namespace native_worker::congestion
