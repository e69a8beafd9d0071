#include "engine/congestion/outage_watch.h"

namespace native_worker::congestion {
namespace {

constexpr double outageLoss = 0.5;
// A receiver reports only once something arrives, so the report that ends a
// silence covers all it lost: a live link's many, or a still screen's one a
// second, which a few unlucky seconds would make look dead.
constexpr int outagePackets = 20;
constexpr double carryingLoss = 0.1;
constexpr double littleShareOfProven = 0.1;
constexpr std::int64_t carryingQueueUs = 100'000;

bool carriesLittle(std::optional<std::int64_t> receivedBps, std::int64_t provenBps) {
    return !receivedBps || static_cast<double>(*receivedBps) < littleShareOfProven * static_cast<double>(provenBps);
}

}  // namespace

bool OutageWatch::onReport(const ReportTally& report, std::optional<std::int64_t> receivedBps, std::int64_t provenBps,
                           std::int64_t queueDelayUs) {
    switch (state_) {
        case State::carrying:
            if (report.lostMoreThan(outageLoss, outagePackets)) {
                state_ = State::outage;
                carriedBps_.reset();  // the report's rate is mostly from before
            }
            return false;
        case State::outage: {
            const bool little = carriesLittle(receivedBps, provenBps);
            if (queueDelayUs > carryingQueueUs || (!report.lostLessThan(carryingLoss) && little)) {
                carriedBps_ = little ? std::nullopt : receivedBps;
                return false;
            }
            state_ = State::carrying;
            return true;
        }
    }
    return false;
}

}  // namespace native_worker::congestion
