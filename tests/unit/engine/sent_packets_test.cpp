#include "engine/congestion/sent_packets.h"

#include <gtest/gtest.h>

namespace native_worker::congestion {
namespace {

// Microseconds. A copy repairs a packet that left within half a second, more
// by as long as the path's queue holds it, never more than what is kept; a
// packet never sent, or sent on another stream, is nobody's to repair.
TEST(SentPackets, OnlyAPacketThatLeftLatelyIsWorthACopy) {
    SentPackets sent;
    for (std::uint32_t sequence = 0; sequence < 40; ++sequence)
        sent.onSent({.ssrc = 7, .sequence = sequence, .bytes = 1000 + sequence, .sentUs = sequence * 100'000});
    const std::int64_t now = 4'000'000;  // the newest left 100 ms ago
    ASSERT_TRUE(sent.repairable(7, 39, now, 0));
    EXPECT_EQ(sent.repairable(7, 39, now, 0)->bytes, 1039U);
    EXPECT_TRUE(sent.repairable(7, 35, now, 0));
    EXPECT_FALSE(sent.repairable(7, 34, now, 0)) << "sent 600 ms ago on a path without a queue";
    EXPECT_TRUE(sent.repairable(7, 30, now, 500'000)) << "a queue delays the request as much";
    EXPECT_FALSE(sent.repairable(7, 19, now, 5'000'000)) << "beyond what is kept";
    EXPECT_FALSE(sent.repairable(8, 39, now, 0));
    EXPECT_FALSE(sent.repairable(7, 40, now, 0));
    const auto latest = sent.latest(3);
    ASSERT_EQ(latest.size(), 3U);
    EXPECT_EQ(latest.front().sequence, 39U);
    EXPECT_EQ(latest.back().sequence, 37U);
}

}  // namespace
}  // namespace native_worker::congestion
