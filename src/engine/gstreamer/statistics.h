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
    std::optional<std::uint64_t> framesEncoded;
    // The negotiated video codec ("video/H264"), for the receiving side,
    // where webrtcbin reports no codec entry.
    std::string videoMimeType;
};

// webrtcbin's get-stats answer as reports: each entry's type by its W3C name,
// member names in lowerCamelCase ("codec-id" becomes "codecId"), numbers and
// text both readable. "outbound-rtp" video entries carry "framesEncoded"; an
// "inbound-rtp" video entry without a codec entry gets one.
std::vector<StatsReport> statsReports(const GstStructure& stats, const StatsAdditions& additions);

// "codec-id" -> "codecId".
std::string camelCase(const char* name);

}  // namespace native_worker::engine::gstreamer
