#include "engine/congestion/repeated_requests.h"

#include <gtest/gtest.h>

namespace native_worker::congestion {
namespace {

// Asked again while its copy is under way, a packet is not sent again; once
// the copy had time to arrive, or for another packet, it is.
TEST(RepeatedRequests, ACopyUnderWayIsNotSentAgain) {
    RepeatedRequests requests;
    constexpr std::int64_t spacing = 250'000;
    requests.onCopySent(7, 100, 1'000'000);
    EXPECT_TRUE(requests.copyUnderWay(7, 100, 1'200'000, spacing));
    EXPECT_FALSE(requests.copyUnderWay(7, 101, 1'200'000, spacing));
    EXPECT_FALSE(requests.copyUnderWay(8, 100, 1'200'000, spacing));
    EXPECT_FALSE(requests.copyUnderWay(7, 100, 1'300'000, spacing));
}

}  // namespace
}  // namespace native_worker::congestion
