#include "engine/congestion/pacer.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace native_worker::congestion {
namespace {

constexpr std::uint32_t packetBytes = 1200;
constexpr std::int64_t packetUs = 10'000;  // at 960 kbit/s

TEST(Pacer, SpacesAFramesPacketsAndGrantsOnlyAShortBurstAfterAQuietSpell) {
    Pacer pacer(960'000);
    for (const std::int64_t offeredUs : {0, 2'000'000}) {
        std::int64_t last = 0;
        for (int packet = 0; packet < 10; ++packet) last = pacer.departureUs(packetBytes, offeredUs);
        EXPECT_EQ(last - offeredUs, 9 * packetUs - Pacer::burstUs);
        EXPECT_EQ(pacer.backlogUs(offeredUs), 10 * packetUs - Pacer::burstUs);
    }
    pacer.setRate(1'920'000);
    const std::int64_t now = 4'000'000;
    pacer.departureUs(packetBytes, now);
    EXPECT_EQ(pacer.departureUs(packetBytes, now), now + packetUs / 2 - Pacer::burstUs);
}

// A thread that sleeps in 15.6-ms steps offers each packet late; the ones
// that waited meanwhile leave at once, so the rate holds.
TEST(Pacer, ATimerThatWakesLateCostsNoRate) {
    Pacer pacer(960'000);
    std::int64_t now = 1'000'000;
    const std::int64_t start = now;
    for (int packet = 0; packet < 100; ++packet) {
        const std::int64_t departure = pacer.departureUs(packetBytes, now);
        now = departure > now ? departure + 15'600 : now;
    }
    EXPECT_LT(now - start, 100 * packetUs + 20'000);
}

// A retransmission leaves at once while the backlog is short, and the packets
// queued after it wait for its bytes; behind a long backlog it does not go.
TEST(Pacer, ARetransmissionGoesOnlyWithRoomAndTakesItsShareOfTheRate) {
    Pacer pacer(960'000);
    const std::int64_t now = 1'000'000;
    EXPECT_TRUE(pacer.admitUnqueued(packetBytes, now, 2 * packetUs));
    EXPECT_EQ(pacer.departureUs(packetBytes, now), now + packetUs - Pacer::burstUs);
    for (int packet = 0; packet < 3; ++packet) pacer.departureUs(packetBytes, now);
    EXPECT_FALSE(pacer.admitUnqueued(packetBytes, now, 2 * packetUs));
    EXPECT_EQ(pacer.backlogUs(now), 5 * packetUs - Pacer::burstUs);
}

}  // namespace
}  // namespace native_worker::congestion
