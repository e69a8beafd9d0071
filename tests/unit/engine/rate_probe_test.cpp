#include "engine/congestion/rate_probe.h"

#include <gtest/gtest.h>

#include <vector>

namespace native_worker::congestion {
namespace {

// Copies that leave at twice the rate a bottleneck drains arrive at its
// rate: that, not the rate they left at, is what the path carries.
TEST(RateProbe, ClaimsTheRateThePathDeliveredNotTheRateItSent) {
    RateProbe probe;
    EXPECT_FALSE(probe.start(true, 1'000'000, 20'000'000, 0));
    const std::int64_t startUs = RateProbe::guessingBeforeProbeUs;
    ASSERT_EQ(probe.start(true, 1'000'000, 20'000'000, startUs), 2'000'000);
    std::vector<PacketFeedback> packets;
    for (int copy = 0; copy < 10; ++copy)
        packets.push_back({startUs + copy * 5'000, startUs + 50'000 + copy * 10'000, 1250, true});
    EXPECT_FALSE(probe.onFeedback(packets, startUs + 200'000));  // not over until a later packet shows it
    const auto delivered = probe.onFeedback({{startUs + 250'000, startUs + 300'000, 1250, false}}, startUs + 400'000);
    ASSERT_TRUE(delivered);
    EXPECT_NEAR(static_cast<double>(*delivered), 1'000'000, 50'000);
}

}  // namespace
}  // namespace native_worker::congestion
