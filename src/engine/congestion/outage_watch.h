#pragma once

#include "engine/congestion/packet_feedback.h"

#include <cstdint>
#include <optional>

namespace native_worker::congestion {

// An outage: the path carries next to nothing, from a report losing most of
// many packets until, once no queue stands, one that loses little or shows the
// receiver getting more than a small part of what the path carried before. A
// path that drops most of a far higher rate than it now carries ends up here
// too: that it kept carrying more than a little tells it apart from a dark
// one. A dark path's reports are no measure of it, neither of what it carried
// before nor of what it will carry after.
class OutageWatch {
public:
    // Whether this report ended an outage.
    bool onReport(const ReportTally& report, std::optional<std::int64_t> receivedBps, std::int64_t provenBps,
                  std::int64_t queueDelayUs);
    bool inOutage() const { return state_ == State::outage; }
    // What the receiver got late in the outage, unless that was next to
    // nothing: then the path lost capacity rather than went dark, and this is
    // what it has left.
    std::optional<std::int64_t> carriedBps() const { return carriedBps_; }

private:
    enum class State { carrying, outage };
    State state_ = State::carrying;
    std::optional<std::int64_t> carriedBps_;
};

}  // namespace native_worker::congestion
