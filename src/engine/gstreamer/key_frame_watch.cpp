#include "engine/gstreamer/key_frame_watch.h"

#include "engine/gstreamer/gst_handles.h"

#include <gst/video/video.h>

#include <atomic>
#include <memory>

namespace native_worker::engine::gstreamer {
namespace {

// Microseconds, as g_get_monotonic_time counts them.
constexpr gint64 patience = 500'000;

struct Watch {
    std::atomic<gint64> lastPicture{0};
    std::atomic<gint64> lastRequest{0};
};

using SharedWatch = std::shared_ptr<Watch>;

Watch& watchOf(gpointer data) {
    return **static_cast<SharedWatch*>(data);
}

GstPadProbeReturn onPicture(GstPad*, GstPadProbeInfo*, gpointer data) {
    watchOf(data).lastPicture.store(g_get_monotonic_time());
    return GST_PAD_PROBE_OK;
}

GstPadProbeReturn onStream(GstPad* pad, GstPadProbeInfo*, gpointer data) {
    Watch& watch = watchOf(data);
    const gint64 now = g_get_monotonic_time();
    gint64 never = 0;
    // The first packet starts the wait for the first picture.
    watch.lastPicture.compare_exchange_strong(never, now);
    if (now - watch.lastPicture.load() < patience || now - watch.lastRequest.load() < patience)
        return GST_PAD_PROBE_OK;
    watch.lastRequest.store(now);
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

void watchForMissingPictures(GstElement* depayloader, GstElement* sink) {
    const auto watch = std::make_shared<Watch>();
    probeBuffers(depayloader, onStream, watch);
    probeBuffers(sink, onPicture, watch);
}

}  // namespace native_worker::engine::gstreamer
