#include "engine/gstreamer/codec_capabilities.h"

#include "engine/gstreamer/h264_encoder.h"

#include <array>
#include <cstdio>
#include <string>
#include <string_view>

namespace native_worker::engine::gstreamer {
namespace {

constexpr std::int32_t h264ClockRate = 90000;
constexpr std::int32_t firstDynamicPayload = 96;
// Constrained baseline as x264 marks it (constraint_set0 and _set1): webrtcbin
// accepts the payloader's caps only when profile-level-id matches exactly.
constexpr std::string_view constrainedBaseline = "42c0";

struct Level {
    std::uint8_t idc;
    std::int64_t maxFrameMacroblocks;
    std::int64_t maxMacroblocksPerSecond;
};

// ITU-T H.264 table A-1.
constexpr std::array<Level, 10> levels{{{0x1e, 1620, 40500},
                                        {0x1f, 3600, 108000},
                                        {0x20, 5120, 216000},
                                        {0x28, 8192, 245760},
                                        {0x2a, 8704, 522240},
                                        {0x32, 22080, 589824},
                                        {0x33, 36864, 983040},
                                        {0x34, 36864, 2073600},
                                        {0x3c, 139264, 4177920},
                                        {0x3e, 139264, 16711680}}};

// "a=b;c=d" into caps fields, as strings, the way webrtcbin reads them back.
void addFmtpFields(GstStructure* structure, std::string_view fmtp) {
    while (!fmtp.empty()) {
        const std::size_t end = fmtp.find(';');
        const std::string_view pair = fmtp.substr(0, end);
        const std::size_t equals = pair.find('=');
        if (equals != std::string_view::npos && equals > 0) {
            const std::string name(pair.substr(0, equals));
            const std::string value(pair.substr(equals + 1));
            gst_structure_set(structure, name.c_str(), G_TYPE_STRING, value.c_str(), nullptr);
        }
        if (end == std::string_view::npos) break;
        fmtp.remove_prefix(end + 1);
    }
}

}  // namespace

std::vector<RtpCodecCapability> senderCodecs(MediaKind kind) {
    if (kind != MediaKind::video || !hasH264Encoder()) return {};
    return {{h264MimeType, h264ClockRate, "level-asymmetry-allowed=1;packetization-mode=1;profile-level-id=42c01f"}};
}

std::string profileLevelId(std::int32_t width, std::int32_t height) {
    const std::int64_t macroblocks = ((std::int64_t{width} + 15) / 16) * ((std::int64_t{height} + 15) / 16);
    std::uint8_t idc = levels.back().idc;
    for (const Level& level : levels) {
        if (macroblocks <= level.maxFrameMacroblocks &&
            macroblocks * highestFramesPerSecond <= level.maxMacroblocksPerSecond) {
            idc = level.idc;
            break;
        }
    }
    char text[3];
    std::snprintf(text, sizeof text, "%02x", idc);
    return std::string(constrainedBaseline) + text;
}

CapsRef codecPreferenceCaps(const std::vector<RtpCodecCapability>& codecs, std::int32_t width, std::int32_t height) {
    CapsRef caps(gst_caps_new_empty());
    std::int32_t payload = firstDynamicPayload;
    for (const auto& codec : codecs) {
        if (codec.mimeType != h264MimeType) continue;
        GstStructure* structure =
            gst_structure_new("application/x-rtp", "media", G_TYPE_STRING, "video", "encoding-name", G_TYPE_STRING,
                              "H264", "clock-rate", G_TYPE_INT, codec.clockRate > 0 ? codec.clockRate : h264ClockRate,
                              "payload", G_TYPE_INT, payload++, nullptr);
        addFmtpFields(structure, codec.sdpFmtpLine);
        gst_structure_set(structure, "packetization-mode", G_TYPE_STRING, "1", "profile-level-id", G_TYPE_STRING,
                          profileLevelId(width, height).c_str(), "rtcp-fb-nack-pli", G_TYPE_BOOLEAN, TRUE, nullptr);
        // webrtcbin offers the payloader's header extensions only once caps
        // have flowed; the offer is made before the first frame.
        const std::string extension = "extmap-" + std::to_string(transportWideCcId);
        gst_structure_set(structure, extension.c_str(), G_TYPE_STRING, transportWideCcUri, nullptr);
        gst_caps_append_structure(caps.get(), structure);
    }
    if (gst_caps_is_empty(caps.get())) return nullptr;
    return caps;
}

}  // namespace native_worker::engine::gstreamer
