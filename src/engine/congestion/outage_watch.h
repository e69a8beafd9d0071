#pragma once

#include <cstdint>

namespace native_worker::congestion {

// An outage: the path carries next to nothing, from a report losing most
// packets until one that loses little and shows no standing queue. Its reports
// are no measure of the path, neither of what it carried before nor of what it
// will carry after.
class OutageWatch {
public:
    enum class Change { none, began, ended };

    Change onReport(double fractionLost, std::int64_t queueDelayUs);
    bool inOutage() const { return state_ == State::outage; }

private:
    enum class State { carrying, outage };
    State state_ = State::carrying;
};

}  // namespace native_worker::congestion
