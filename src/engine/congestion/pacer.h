#pragma once

#include <cstdint>

namespace native_worker::congestion {

// When each packet may leave, so that a frame goes out at the pacing rate
// rather than as one burst: a shallow router buffer drops whatever arrives
// faster than its link drains it. A quiet spell earns a burst of at most
// burstUs at the pacing rate, no more; packets that waited back to back keep
// their schedule, so a timer that wakes late (Windows sleeps in steps of
// 15.6 ms) costs no rate, only a little smoothness.
class Pacer {
public:
    static constexpr std::int64_t burstUs = 5'000;
    static constexpr std::int64_t lateWakeUs = 20'000;

    explicit Pacer(std::int64_t bps) { setRate(bps); }
    void setRate(std::int64_t bps);

    // When a packet of `bytes` offered at `nowUs` may leave; it counts as gone then.
    std::int64_t departureUs(std::uint32_t bytes, std::int64_t nowUs);
    // How long what was offered so far still takes to leave.
    std::int64_t backlogUs(std::int64_t nowUs) const;
    // Whether a packet that leaves at once, outside the queue (a
    // retransmission), may go: only while the backlog is under `boundUs`. When
    // it goes, it takes its place on the schedule, so the packets queued
    // behind it wait for its bytes and the rate holds.
    bool admitUnqueued(std::uint32_t bytes, std::int64_t nowUs, std::int64_t boundUs);

private:
    std::int64_t bps_ = 1;
    // When the packets offered so far have left at the pacing rate.
    double drainedAtUs_ = 0;
    std::int64_t lastDepartureUs_ = 0;
    bool started_ = false;
};

}  // namespace native_worker::congestion
