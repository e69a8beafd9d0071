#include "engine/congestion/outage_watch.h"

namespace native_worker::congestion {
namespace {

constexpr double outageLoss = 0.5;
constexpr double carryingLoss = 0.1;
constexpr std::int64_t carryingQueueUs = 100'000;

}  // namespace

OutageWatch::Change OutageWatch::onReport(double fractionLost, std::int64_t queueDelayUs) {
    switch (state_) {
    case State::carrying:
        if (fractionLost <= outageLoss) return Change::none;
        state_ = State::outage;
        return Change::began;
    case State::outage:
        if (fractionLost >= carryingLoss || queueDelayUs > carryingQueueUs) return Change::none;
        state_ = State::carrying;
        return Change::ended;
    }
    return Change::none;
}

}  // namespace native_worker::congestion
