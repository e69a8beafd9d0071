#include "engine/gstreamer/statistics.h"

#include "engine/gstreamer/gst_handles.h"

#include <gst/webrtc/webrtc.h>

#include <algorithm>
#include <limits>
#include <string_view>

namespace native_worker::engine::gstreamer {
namespace {

constexpr const char* receivedCodecId = "codec-received-video";
constexpr const char* receivedStreamId = "inbound-rtp-video";
constexpr const char* sentCodecId = "codec-sent-video";
constexpr const char* sentStreamId = "outbound-rtp-video";

StatsMember member(std::string name, std::string text, std::uint32_t number) {
    return {std::move(name), true, std::move(text), number};
}

std::uint32_t clamped(double value) {
    if (!(value > 0)) return 0;
    return value >= std::numeric_limits<std::uint32_t>::max() ? std::numeric_limits<std::uint32_t>::max()
                                                              : static_cast<std::uint32_t>(value);
}

// A field as text and as a number; nullopt for nested structures and the like.
std::optional<StatsMember> readMember(const gchar* name, const GValue* value) {
    const GType type = G_VALUE_TYPE(value);
    if (type == G_TYPE_STRING) {
        const gchar* text = g_value_get_string(value);
        return member(camelCase(name), text ? text : "", 0);
    }
    if (type == G_TYPE_BOOLEAN) {
        const bool flag = g_value_get_boolean(value) != FALSE;
        return member(camelCase(name), flag ? "true" : "false", flag ? 1 : 0);
    }
    GValue number = G_VALUE_INIT;
    g_value_init(&number, G_TYPE_DOUBLE);
    if (!g_value_type_transformable(type, G_TYPE_DOUBLE) || !g_value_transform(value, &number)) return std::nullopt;
    const double numeric = g_value_get_double(&number);
    const GFreeString text(gst_value_serialize(value));
    return member(camelCase(name), text ? text.get() : "", clamped(numeric));
}

std::string typeName(const GstStructure& entry) {
    GstWebRTCStatsType type{};
    if (!gst_structure_get_enum(&entry, "type", GST_TYPE_WEBRTC_STATS_TYPE, reinterpret_cast<gint*>(&type))) return "";
    GEnumClass* types = static_cast<GEnumClass*>(g_type_class_ref(GST_TYPE_WEBRTC_STATS_TYPE));
    const GEnumValue* value = g_enum_get_value(types, type);
    std::string name = value ? value->value_nick : "";
    g_type_class_unref(types);
    return name;
}

const StatsMember* find(const StatsReport& report, const std::string& name) {
    const auto found = std::find_if(report.members.begin(), report.members.end(),
                                    [&](const StatsMember& candidate) { return candidate.name == name; });
    return found == report.members.end() ? nullptr : &*found;
}

void setMember(StatsReport& report, StatsMember value) {
    const auto found = std::find_if(report.members.begin(), report.members.end(),
                                    [&](const StatsMember& candidate) { return candidate.name == value.name; });
    if (found == report.members.end())
        report.members.push_back(std::move(value));
    else
        *found = std::move(value);
}

bool isVideo(const StatsReport& report) {
    const StatsMember* kind = find(report, "kind");
    return !kind || kind->text == "video";
}

bool namesCodec(const std::vector<StatsReport>& reports, const StatsReport& stream) {
    const StatsMember* codecId = find(stream, "codecId");
    if (!codecId) return false;
    return std::any_of(reports.begin(), reports.end(), [&](const StatsReport& report) {
        return report.type == "codec" && report.id == codecId->text && find(report, "mimeType");
    });
}

// Every video entry of this type, one added when webrtcbin has none (any more).
std::vector<std::size_t> videoStreams(std::vector<StatsReport>& reports, const std::string& type, const char* id) {
    std::vector<std::size_t> found;
    for (std::size_t i = 0; i < reports.size(); ++i)
        if (reports[i].type == type && isVideo(reports[i])) found.push_back(i);
    if (found.empty()) {
        found.push_back(reports.size());
        reports.push_back({id, type, {member("kind", "video", 0)}});
    }
    return found;
}

// Retransmission streams come with codec entries of their own that name no codec.
void nameCodec(std::vector<StatsReport>& reports, const std::vector<std::size_t>& streams, const char* codecId,
               const std::string& mimeType) {
    bool named = false;
    for (const std::size_t stream : streams) {
        if (namesCodec(reports, reports[stream])) continue;
        setMember(reports[stream], member("codecId", codecId, 0));
        named = true;
    }
    if (named) reports.push_back({codecId, "codec", {member("mimeType", mimeType, 0)}});
}

}  // namespace

std::string camelCase(const char* name) {
    std::string result;
    bool upper = false;
    for (const char* c = name; *c; ++c) {
        if (*c == '-' || *c == '_') {
            upper = true;
            continue;
        }
        result.push_back(upper && *c >= 'a' && *c <= 'z' ? static_cast<char>(*c - 'a' + 'A') : *c);
        upper = false;
    }
    return result;
}

std::vector<StatsReport> statsReports(const GstStructure& stats, const StatsAdditions& additions) {
    std::vector<StatsReport> reports;
    for (gint i = 0; i < gst_structure_n_fields(&stats); ++i) {
        const gchar* field = gst_structure_nth_field_name(&stats, static_cast<guint>(i));
        const GValue* value = gst_structure_get_value(&stats, field);
        if (!GST_VALUE_HOLDS_STRUCTURE(value)) continue;
        const GstStructure* entry = gst_value_get_structure(value);
        StatsReport report;
        report.type = typeName(*entry);
        const gchar* id = gst_structure_get_string(entry, "id");
        report.id = id ? id : field;
        for (gint j = 0; j < gst_structure_n_fields(entry); ++j) {
            const gchar* name = gst_structure_nth_field_name(entry, static_cast<guint>(j));
            if (std::string_view(name) == "type" || std::string_view(name) == "id") continue;
            if (auto read = readMember(name, gst_structure_get_value(entry, name)))
                report.members.push_back(std::move(*read));
        }
        reports.push_back(std::move(report));
    }

    // webrtcbin drops a stream's entry after a few seconds without packets
    // (a still picture) and names no codec on the receiving side; the figures
    // the worker reports must not vanish or go back with it.
    if (additions.framesEncoded) {
        const std::uint64_t frames = *additions.framesEncoded;
        const auto sent = videoStreams(reports, "outbound-rtp", sentStreamId);
        for (const std::size_t stream : sent)
            setMember(reports[stream],
                      member("framesEncoded", std::to_string(frames), clamped(static_cast<double>(frames))));
        if (!additions.sentVideoMimeType.empty()) nameCodec(reports, sent, sentCodecId, additions.sentVideoMimeType);
    }
    if (!additions.videoMimeType.empty())
        nameCodec(reports, videoStreams(reports, "inbound-rtp", receivedStreamId), receivedCodecId,
                  additions.videoMimeType);
    return reports;
}

}  // namespace native_worker::engine::gstreamer
