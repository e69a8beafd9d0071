#include "engine/congestion/sent_packets.h"

#include <gtest/gtest.h>

namespace native_worker::congestion {
namespace {

// Microseconds. A copy repairs a packet that left within half a second, more
// by as long as the path's queue holds it, never more than what is kept; a
// packet never sent, or sent on another stream, is nobody's to repair. A
// picture no copy repairs calls for a key frame, once: not again for what
// left before it was asked for.
TEST(SentPackets, OnlyAPacketThatLeftLatelyIsWorthACopyAndAnOlderOneAKeyFrame) {
    SentPackets sent;
    for (std::uint32_t sequence = 0; sequence < 40; ++sequence)
        sent.onSent({.ssrc = 7, .sequence = sequence, .bytes = 1000 + sequence, .sentUs = sequence * 100'000});
    std::int64_t now = 4'000'000;  // the newest left 100 ms ago
    EXPECT_EQ(sent.onRequest(7, 39, now, 0).copyBytes, 1039U);
    EXPECT_TRUE(sent.onRequest(7, 35, now, 0).copyBytes);
    EXPECT_TRUE(sent.onRequest(7, 30, now, 500'000).copyBytes) << "a queue delays the request as much";
    const auto stale = sent.onRequest(7, 34, now, 0);
    EXPECT_FALSE(stale.copyBytes) << "sent 600 ms ago on a path without a queue";
    EXPECT_TRUE(stale.keyFrame);
    EXPECT_FALSE(sent.onRequest(7, 33, now, 0).keyFrame) << "the key frame replaces it too";
    EXPECT_FALSE(sent.onRequest(7, 19, now, 5'000'000).copyBytes) << "beyond what is kept";
    EXPECT_FALSE(sent.onRequest(8, 39, now, 0).copyBytes);
    sent.onSent({.ssrc = 7, .sequence = 40, .bytes = 1000, .sentUs = now += 100'000});
    EXPECT_TRUE(sent.onRequest(7, 40, now += 1'000'000, 0).keyFrame) << "lost after the key frame was asked for";
    const auto latest = sent.latest(3);
    ASSERT_EQ(latest.size(), 3U);
    EXPECT_EQ(latest.front().sequence, 40U);
    EXPECT_EQ(latest.back().sequence, 38U);
}

}  // namespace
}  // namespace native_worker::congestion
