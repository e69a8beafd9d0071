#pragma once

#include "engine/congestion/packet_feedback.h"

#include <cstdint>
#include <optional>

namespace native_worker::congestion {

// An outage: the path carries next to nothing, from a report losing most of
// many packets until, once no queue stands, one that loses little or shows the
// receiver getting more than a small part of what the path carried before. A
// path that drops most of a far higher rate than it now carries ends up here
// too, and is best treated alike. An outage's reports are no measure of the
// path, neither of what it carried before nor of what it will carry after.
class OutageWatch {
public:
    // Whether this report ended an outage.
    bool onReport(const ReportTally& report, std::optional<std::int64_t> receivedBps, std::int64_t provenBps,
                  std::int64_t queueDelayUs);
    bool inOutage() const { return state_ == State::outage; }

private:
    enum class State { carrying, outage };
    State state_ = State::carrying;
};

}  // namespace native_worker::congestion
