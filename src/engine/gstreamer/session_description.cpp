#include "engine/gstreamer/session_description.h"

#include "engine/gstreamer/codec_capabilities.h"
#include "engine/gstreamer/gst_handles.h"

#include <cstdlib>
#include <string>
#include <string_view>

namespace native_worker::engine::gstreamer {

std::optional<GstWebRTCSDPType> descriptionType(const std::string& type) {
    if (type == "offer") return GST_WEBRTC_SDP_TYPE_OFFER;
    if (type == "answer") return GST_WEBRTC_SDP_TYPE_ANSWER;
    if (type == "pranswer") return GST_WEBRTC_SDP_TYPE_PRANSWER;
    if (type == "rollback") return GST_WEBRTC_SDP_TYPE_ROLLBACK;
    return std::nullopt;
}

Description parseDescription(const std::string& sdp, GstWebRTCSDPType type) {
    GstSDPMessage* message = nullptr;
    if (gst_sdp_message_new_from_text(sdp.c_str(), &message) != GST_SDP_OK || !message) return nullptr;
    // The parser accepts any text; a description at least has its version line.
    if (!gst_sdp_message_get_version(message)) {
        gst_sdp_message_free(message);
        return nullptr;
    }
    return Description(gst_webrtc_session_description_new(type, message));
}

std::string descriptionText(const GstWebRTCSessionDescription& description) {
    const GFreeString text(gst_sdp_message_as_text(description.sdp));
    return text ? text.get() : "";
}

std::vector<std::string> mediaIds(const GstSDPMessage& sdp) {
    std::vector<std::string> ids;
    for (guint i = 0; i < gst_sdp_message_medias_len(&sdp); ++i) {
        const gchar* mid = gst_sdp_media_get_attribute_val(gst_sdp_message_get_media(&sdp, i), "mid");
        ids.emplace_back(mid ? mid : "");
    }
    return ids;
}

std::string videoMimeType(const GstSDPMessage& sdp) {
    for (guint i = 0; i < gst_sdp_message_medias_len(&sdp); ++i) {
        const GstSDPMedia* media = gst_sdp_message_get_media(&sdp, i);
        if (std::string_view(gst_sdp_media_get_media(media)) != "video" || gst_sdp_media_formats_len(media) == 0)
            continue;
        const gint payload = std::atoi(gst_sdp_media_get_format(media, 0));
        const CapsRef caps(gst_sdp_media_get_caps_from_media(media, payload));
        if (!caps || gst_caps_is_empty(caps.get())) continue;
        const gchar* name = gst_structure_get_string(gst_caps_get_structure(caps.get(), 0), "encoding-name");
        if (name) return std::string("video/") + name;
    }
    return "";
}

CapsRef h264AnswerPreferences(const GstSDPMessage& sdp) {
    for (guint i = 0; i < gst_sdp_message_medias_len(&sdp); ++i) {
        const GstSDPMedia* media = gst_sdp_message_get_media(&sdp, i);
        if (std::string_view(gst_sdp_media_get_media(media)) != "video") continue;
        // Only the congestion control extension: the offer's other attributes
        // (its ssrc, msid, mid) are the offerer's and have no place in an answer.
        std::string extension;
        for (guint a = 0; a < gst_sdp_media_attributes_len(media); ++a) {
            const GstSDPAttribute* attribute = gst_sdp_media_get_attribute(media, a);
            const std::string_view value = attribute->value ? attribute->value : "";
            if (std::string_view(attribute->key) != "extmap" ||
                value.find(transportWideCcUri) == std::string_view::npos)
                continue;
            extension = "extmap-" + std::string(value.substr(0, value.find_first_of("/ ")));
        }
        CapsRef preferences(gst_caps_new_empty());
        for (guint format = 0; format < gst_sdp_media_formats_len(media); ++format) {
            const gint payload = std::atoi(gst_sdp_media_get_format(media, format));
            GstCaps* caps = gst_sdp_media_get_caps_from_media(media, payload);
            if (!caps) continue;
            GstStructure* structure = gst_caps_get_structure(caps, 0);
            const gchar* name = gst_structure_get_string(structure, "encoding-name");
            if (!name || std::string_view(name) != "H264") {
                gst_caps_unref(caps);
                continue;
            }
            gst_structure_set_name(structure, "application/x-rtp");
            gst_structure_set(structure, "media", G_TYPE_STRING, "video", nullptr);
            if (!extension.empty())
                gst_structure_set(structure, extension.c_str(), G_TYPE_STRING, transportWideCcUri, nullptr);
            gst_caps_append(preferences.get(), caps);
        }
        if (gst_caps_is_empty(preferences.get())) return nullptr;
        return preferences;
    }
    return nullptr;
}

}  // namespace native_worker::engine::gstreamer
