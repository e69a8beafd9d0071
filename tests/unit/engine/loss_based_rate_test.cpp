#include "engine/congestion/loss_based_rate.h"

#include <gtest/gtest.h>

#include <cmath>

namespace native_worker::congestion {
namespace {

// Cut by a lossy window, the rate then sees two seconds without loss in a
// window of a few packets (a low rate sends few): it grows for both seconds,
// and half again a second far below what the path has carried.
TEST(LossBasedRate, AWindowWithoutLossGrowsForAllOfItsLength) {
    struct Case {
        double fastClimbBelowBps;
        double growthPerSecond;
    };
    for (const Case& c : {Case{0, std::pow(1.05, 5)}, Case{10'000'000, 1.5}}) {
        SCOPED_TRACE(c.fastClimbBelowBps);
        constexpr std::int64_t delayBasedBps = 1'000'000;
        LossBasedRate rate({32'000, delayBasedBps, 20'000'000});
        rate.onReport({.sent = 20, .lost = 10, .sentBytes = 25'000}, delayBasedBps, c.fastClimbBelowBps, 0);
        rate.onReport({.sent = 20, .lost = 10, .sentBytes = 25'000}, delayBasedBps, c.fastClimbBelowBps, 200'000);
        const auto cut = static_cast<double>(rate.bps(delayBasedBps));
        ASSERT_LT(cut, 0.9 * delayBasedBps);
        // The delay-based rate, meanwhile far higher, does not bind.
        rate.onReport({.sent = 5, .lost = 0, .sentBytes = static_cast<std::int64_t>(cut * 2 / 8)}, 5 * delayBasedBps,
                      c.fastClimbBelowBps, 2'200'000);
        EXPECT_NEAR(static_cast<double>(rate.bps(5 * delayBasedBps)) / cut, std::pow(c.growthPerSecond, 2), 0.01);
    }
}

}  // namespace
}  // namespace native_worker::congestion
