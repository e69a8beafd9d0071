#pragma once

#include "engine/gstreamer/gst_handles.h"
#include "media/engine.h"

#include <cstdint>
#include <string>
#include <vector>

namespace native_worker::engine::gstreamer {

inline constexpr const char* h264MimeType = "video/H264";
// Transport-wide sequence numbers on every sent packet, so the receiver can
// report each packet's arrival (congestion control).
inline constexpr const char* transportWideCcUri =
    "http://www.ietf.org/id/draft-holmer-rmcat-transport-wide-cc-extensions-01";
inline constexpr unsigned transportWideCcId = 1;

// What this machine can send: H264 constrained baseline when it has an H264
// encoder; no audio.
std::vector<RtpCodecCapability> senderCodecs(MediaKind kind);

// H264 constrained baseline with the lowest level that holds frames of this
// size at up to 60 frames per second: "42c020" for 1280x720, "42c02a" for
// 1920x1080.
std::string profileLevelId(std::int32_t width, std::int32_t height);

// RTP caps for webrtcbin's codec-preferences: the H264 entries of the list,
// each with packetization-mode=1 and a profile-level-id whose level fits a
// capture of this size (webrtcbin writes the fmtp line browsers need only
// from these fields). Null when the list holds no H264 entry.
CapsRef codecPreferenceCaps(const std::vector<RtpCodecCapability>& codecs, std::int32_t width, std::int32_t height);

}  // namespace native_worker::engine::gstreamer
