#include "engine/congestion/pacing_rate.h"

namespace native_worker::congestion {
namespace {

// Below this the queue is empty but for a packet's own time on the link and
// the pacer's spacing; above the second, a buffer holds a burst.
constexpr std::int64_t emptyQueueUs = 5'000;
constexpr std::int64_t standingQueueUs = 10'000;
// How long a path that lost packets on an empty queue counts as losing them so.
constexpr std::int64_t ownLossMemoryUs = 2'000'000;

}  // namespace

void PacingRate::onLoss(std::optional<std::int64_t> queueUs, std::int64_t nowUs) {
    if (queueUs && *queueUs < emptyQueueUs)
        lastOwnLossUs_ = nowUs;
    else if (!queueUs || *queueUs >= standingQueueUs)
        bufferLossInReport_ = true;
}

void PacingRate::onReport(std::int64_t nowUs) {
    const bool pathLosesOnItsOwn = lastOwnLossUs_ && nowUs - *lastOwnLossUs_ < ownLossMemoryUs;
    if (bufferLossInReport_ && !pathLosesOnItsOwn) lastBufferLossUs_ = nowUs;
    bufferLossInReport_ = false;
    gentle_ = lastBufferLossUs_ && nowUs - *lastBufferLossUs_ < gentleAfterLossUs;
}

std::int64_t PacingRate::bps(std::int64_t targetBps) const {
    return static_cast<std::int64_t>((gentle_ ? gentleOverTarget : fastOverTarget) * static_cast<double>(targetBps));
}

}  // namespace native_worker::congestion
