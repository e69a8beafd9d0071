#include "media/stats.h"

#include <gtest/gtest.h>

namespace native_worker {
namespace {

using engine::StatsReport;

const StatsReport h264Codec{"C1", "codec", {{"mimeType", true, "video/H264", 0}}};
const StatsReport outbound{"O1", "outbound-rtp", {{"codecId", true, "C1", 0}, {"framesEncoded", true, "42", 42}}};

TEST(StatsReduction, HostReadsTheOutboundStream) {
    const Stats stats = buildStats({h264Codec, outbound}, true);
    EXPECT_EQ(stats.encodedFrames, 42u);
    EXPECT_EQ(stats.codec, "video/H264");
}

TEST(StatsReduction, ControllerNamesTheCodecOnlyThroughTheInboundStream) {
    EXPECT_EQ(buildStats({h264Codec, outbound}, false).codec, "");
    EXPECT_EQ(buildStats({h264Codec, outbound}, false).encodedFrames, 42u);
    const StatsReport inbound{"I1", "inbound-rtp", {{"codecId", true, "C1", 0}}};
    EXPECT_EQ(buildStats({inbound, h264Codec}, false).codec, "video/H264");
}

TEST(StatsReduction, LookupAfterAllReportsAndLastMatchWins) {
    const StatsReport vp8{"C2", "codec", {{"mimeType", true, "video/VP8", 0}}};
    const StatsReport laterOutbound{
        "O2", "outbound-rtp", {{"codecId", true, "C2", 0}, {"framesEncoded", true, "7", 7}}};
    const Stats stats = buildStats({outbound, laterOutbound, h264Codec, vp8}, true);
    EXPECT_EQ(stats.codec, "video/VP8");
    EXPECT_EQ(stats.encodedFrames, 7u);
}

TEST(StatsReduction, UndefinedMembersAndMissingReportsLeaveDefaults) {
    const StatsReport undefinedMembers{
        "O1", "outbound-rtp", {{"codecId", false, "C1", 0}, {"framesEncoded", false, "9", 9}}};
    const Stats stats = buildStats({h264Codec, undefinedMembers}, true);
    EXPECT_EQ(stats.encodedFrames, 0u);
    EXPECT_EQ(stats.codec, "");
    EXPECT_EQ(buildStats({}, true).codec, "");
    const StatsReport emptyIdCodec{"", "codec", {{"mimeType", true, "video/H264", 0}}};
    EXPECT_EQ(buildStats({emptyIdCodec}, true).codec, "");
}

}  // namespace
}  // namespace native_worker
