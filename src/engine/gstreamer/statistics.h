#pragma once

#include "media/engine.h"

#include <gst/gst.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace native_worker::engine::gstreamer {

// What the connection knows that webrtcbin's statistics lack.
struct StatsAdditions {
    // Frames out of the encoder; only for a connection that sends video.
    std::optional<std::uint64_t> framesEncoded{};
    // The codec it sends ("video/H264").
    std::string sentVideoMimeType{};
    // The negotiated video codec ("video/H264"), for the receiving side,
    // where webrtcbin reports no codec entry.
    std::string videoMimeType{};
};

// webrtcbin's get-stats answer as reports: each entry's type by its W3C name,
// member names in lowerCamelCase ("codec-id" becomes "codecId"), numbers and
// text both readable. A sending connection always has an "outbound-rtp" video
// entry with "framesEncoded" and its codec, a receiving one an "inbound-rtp"
// video entry with its codec, even while webrtcbin has dropped them.
std::vector<StatsReport> statsReports(const GstStructure& stats, const StatsAdditions& additions);

// "codec-id" -> "codecId".
std::string camelCase(const char* name);

}  // namespace native_worker::engine::gstreamer
