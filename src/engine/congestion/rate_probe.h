#pragma once

#include "engine/congestion/packet_feedback.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace native_worker::congestion {

// Measured climbs: where the rate would otherwise climb by guesswork, a share
// a second away from any capacity found at the last cuts (slowly, or fast far
// below a rate proven: after another flow's start), a short burst of
// retransmitted copies at twice the target says what the path carries now.
// The rate the receiver got the burst at, with the packets sent amid it, is
// the probe's result; a successful probe leads to the next one a second later,
// so the rate doubles until the path pushes back.
class RateProbe {
public:
    static constexpr double overTarget = 2;
    // Fewer packets than this measure the timer, not the path.
    static constexpr int packetsToMeasure = 5;
    static constexpr std::int64_t guessingBeforeProbeUs = 1'000'000;
    static constexpr std::int64_t resultPatienceUs = 2'000'000;
    // A probe that found much of its rate leads to the next one soon; one
    // that did not says the path is near full: the rate finds the rest.
    static constexpr double foundShare = 0.75;
    static constexpr std::int64_t afterFoundUs = 1'000'000;
    static constexpr std::int64_t afterFailedUs = 5'000'000;

    // The rate to probe at, when one is due: the rate has climbed by guess
    // for a while and no probe is under way. `guessing` false stops the clock.
    std::optional<std::int64_t> start(bool guessing, std::int64_t targetBps, std::int64_t maximumBps,
                                      std::int64_t nowUs);
    // The rate the path delivered the probe at, once a report shows the
    // packets sent after it.
    std::optional<std::int64_t> onFeedback(const std::vector<PacketFeedback>& packets, std::int64_t nowUs);

private:
    std::optional<std::int64_t> measure() const;

    std::optional<std::int64_t> guessingSinceUs_;
    std::optional<std::int64_t> startedUs_;  // a probe under way
    std::int64_t probedBps_ = 0;
    std::int64_t notBeforeUs_ = 0;
    // Reported packets from the probe's first copy on, in send order.
    std::vector<PacketFeedback> burst_;
};

}  // namespace native_worker::congestion
