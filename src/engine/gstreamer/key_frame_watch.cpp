#include "engine/gstreamer/key_frame_watch.h"

#include "engine/gstreamer/gst_handles.h"

#include <gst/video/video.h>

#include <memory>

namespace native_worker::engine::gstreamer {
namespace {

using SharedWatch = std::shared_ptr<PictureWait>;

PictureWait& watchOf(gpointer data) {
    return **static_cast<SharedWatch*>(data);
}

GstPadProbeReturn onPicture(GstPad*, GstPadProbeInfo*, gpointer data) {
    watchOf(data).picture();
    return GST_PAD_PROBE_OK;
}

GstPadProbeReturn onStream(GstPad* pad, GstPadProbeInfo*, gpointer data) {
    if (!watchOf(data).packet(g_get_monotonic_time())) return GST_PAD_PROBE_OK;
    // Upstream from the depayloader, as its own request goes: the RTP session
    // turns it into a picture loss indication.
    gst_pad_push_event(pad, gst_video_event_new_upstream_force_key_unit(GST_CLOCK_TIME_NONE, TRUE, 0));
    return GST_PAD_PROBE_OK;
}

void releaseWatch(gpointer data) {
    delete static_cast<SharedWatch*>(data);
}

void probeBuffers(GstElement* element, GstPadProbeCallback callback, const SharedWatch& watch) {
    const GstRef<GstPad> pad(gst_element_get_static_pad(element, "sink"));
    if (pad) gst_pad_add_probe(pad.get(), GST_PAD_PROBE_TYPE_BUFFER, callback, new SharedWatch(watch), releaseWatch);
}

}  // namespace

bool PictureWait::packet(std::int64_t now) {
    std::int64_t since = idle;
    if (waitingSince_.compare_exchange_strong(since, now)) return false;
    if (now - since < patience || now - lastRequest_.load() < patience) return false;
    lastRequest_.store(now);
    return true;
}

void watchForMissingPictures(GstElement* depayloader, GstElement* sink) {
    const auto watch = std::make_shared<PictureWait>();
    probeBuffers(depayloader, onStream, watch);
    probeBuffers(sink, onPicture, watch);
}

}  // namespace native_worker::engine::gstreamer
