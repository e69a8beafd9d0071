#include "engine/gstreamer/video_receiver.h"

#include "engine/gstreamer/gst_handles.h"
#include "engine/gstreamer/key_frame_watch.h"

#include <gst/app/gstappsink.h>

#include <string_view>

namespace native_worker::engine::gstreamer {
namespace {

using SharedTrack = std::shared_ptr<Track>;

bool capsField(GstPad* pad, const char* field, std::string_view expected) {
    CapsRef caps(gst_pad_get_current_caps(pad));
    if (!caps) caps.reset(gst_pad_query_caps(pad, nullptr));
    if (!caps || gst_caps_is_empty(caps.get())) return false;
    const gchar* value = gst_structure_get_string(gst_caps_get_structure(caps.get(), 0), field);
    return value && std::string_view(value) == expected;
}

GstFlowReturn onDecodedSample(GstAppSink* sink, gpointer track) {
    GstSample* sample = gst_app_sink_pull_sample(sink);
    if (!sample) return GST_FLOW_OK;
    (*static_cast<SharedTrack*>(track))->deliver(sample);
    gst_sample_unref(sample);
    return GST_FLOW_OK;
}

void releaseTrack(gpointer track) {
    delete static_cast<SharedTrack*>(track);
}

bool linkToPad(GstElement* pipeline, GstPad* pad, std::initializer_list<GstElement*> chain) {
    for (GstElement* element : chain) {
        if (element) continue;
        for (GstElement* made : chain)
            if (made) gst_object_unref(gst_object_ref_sink(made));
        return false;
    }
    for (GstElement* element : chain) gst_bin_add(GST_BIN(pipeline), element);
    GstElement* previous = nullptr;
    for (GstElement* element : chain) {
        if (previous && !gst_element_link(previous, element)) return false;
        previous = element;
    }
    for (GstElement* element : chain) gst_element_sync_state_with_parent(element);
    const GstRef<GstPad> input(gst_element_get_static_pad(*chain.begin(), "sink"));
    return gst_pad_link(pad, input.get()) == GST_PAD_LINK_OK;
}

GstElement* make(const char* factory) {
    return gst_element_factory_make(factory, nullptr);
}

GstElement* h264Decoder() {
    GstElement* decoder = make("avdec_h264");
    return decoder ? decoder : make("openh264dec");
}

}  // namespace

bool carriesVideo(GstPad* pad) {
    return capsField(pad, "media", "video");
}

std::shared_ptr<Track> receiveVideo(GstElement* pipeline, GstPad* pad) {
    if (!carriesVideo(pad) || !capsField(pad, "encoding-name", "H264")) {
        GstElement* discard = make("fakesink");
        if (discard) g_object_set(discard, "sync", FALSE, "async", FALSE, nullptr);
        linkToPad(pipeline, pad, {discard});
        return nullptr;
    }
    GstElement* depayloader = make("rtph264depay");
    // A picture with holes is not shown; a key frame is asked for at once.
    if (depayloader) g_object_set(depayloader, "request-keyframe", TRUE, "wait-for-keyframe", TRUE, nullptr);
    GstElement* sink = make("appsink");
    GstElement* filter = make("capsfilter");
    if (sink) g_object_set(sink, "sync", FALSE, "max-buffers", 1U, "drop", TRUE, nullptr);
    if (filter) {
        const CapsRef i420(gst_caps_from_string("video/x-raw,format=I420"));
        g_object_set(filter, "caps", i420.get(), nullptr);
    }
    auto track = std::make_shared<Track>();
    if (sink) {
        GstAppSinkCallbacks callbacks{};
        callbacks.new_sample = onDecodedSample;
        gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, new SharedTrack(track), releaseTrack);
    }
    if (!linkToPad(pipeline, pad, {depayloader, make("h264parse"), h264Decoder(), make("videoconvert"), filter, sink}))
        return nullptr;
    watchForMissingPictures(depayloader, sink);
    return track;
}

}  // namespace native_worker::engine::gstreamer
