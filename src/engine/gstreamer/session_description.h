#pragma once

#include "engine/gstreamer/gst_handles.h"

#include <gst/sdp/sdp.h>
#include <gst/webrtc/webrtc.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace native_worker::engine::gstreamer {

struct DescriptionRelease {
    void operator()(GstWebRTCSessionDescription* description) const {
        gst_webrtc_session_description_free(description);
    }
};
using Description = std::unique_ptr<GstWebRTCSessionDescription, DescriptionRelease>;

// "offer", "answer", "pranswer", "rollback"; nullopt for anything else.
std::optional<GstWebRTCSDPType> descriptionType(const std::string& type);

// Null when the text is no session description.
Description parseDescription(const std::string& sdp, GstWebRTCSDPType type);
std::string descriptionText(const GstWebRTCSessionDescription& description);

// The "mid" of every media line, in order ("" where there is none).
std::vector<std::string> mediaIds(const GstSDPMessage& sdp);

// The mime type ("video/H264") of the first payload of the first video line.
std::string videoMimeType(const GstSDPMessage& sdp);

// Codec preferences for answering the first video line of an offer: its H264
// payloads with their parameters, feedback types and header extensions. Without
// them webrtcbin answers neither transport-wide congestion control nor (for an
// offer of many codecs) at all. Null when the line offers no H264.
CapsRef h264AnswerPreferences(const GstSDPMessage& sdp);

}  // namespace native_worker::engine::gstreamer
