#include "engine/gstreamer/video_sender.h"

#include "engine/gstreamer/h264_encoder.h"

#include <gst/app/gstappsrc.h>
#include <gst/video/video.h>

#include <algorithm>

namespace native_worker::engine::gstreamer {
namespace {

// The rate a connection starts at, before any feedback: about 0.9 Mbit/s at
// 1280x720, from where congestion control climbs within seconds on a fast
// path. The ceiling leaves a fast LAN sharp text: 9 Mbit/s at 720p.
constexpr std::int32_t startPixelsPerKbps = 1000;
constexpr std::int32_t ceilingPixelsPerKbps = 100;
constexpr std::int32_t highestBitrateKbps = 20000;
constexpr gint payloadType = 96;  // the first one codec preferences hand out

GstElement* make(const char* factory) {
    return gst_element_factory_make(factory, nullptr);
}

using SharedCounter = std::shared_ptr<std::atomic<std::uint64_t>>;

// The probe holds its own reference to the counter: the pad may outlive the sender.
GstPadProbeReturn countBuffer(GstPad*, GstPadProbeInfo*, gpointer counter) {
    (*static_cast<SharedCounter*>(counter))->fetch_add(1);
    return GST_PAD_PROBE_OK;
}

void releaseCounter(gpointer counter) {
    delete static_cast<SharedCounter*>(counter);
}

}  // namespace

std::unique_ptr<VideoSender> VideoSender::create(GstElement* pipeline, GstElement* webrtcbin,
                                                 std::shared_ptr<ScreenCapturer> capturer,
                                                 std::int32_t minimumBitrateKbps) {
    GstElement* source = make("appsrc");
    GstElement* queue = make("queue");
    GstElement* encoder = makeH264Encoder(SendRateAdapter::frameSizeBoundMs);
    GstElement* filter = make("capsfilter");
    GstElement* payloader = make("rtph264pay");
    if (!source || !queue || !encoder || !filter || !payloader) {
        for (GstElement* element : {source, queue, encoder, filter, payloader})
            if (element) gst_object_unref(gst_object_ref_sink(element));
        return nullptr;
    }
    const std::int32_t pixels = capturer->width() * capturer->height();
    const std::int32_t floorKbps = std::clamp(minimumBitrateKbps, 1, highestBitrateKbps);
    const congestion::RateBounds bounds{
        std::int64_t{floorKbps} * 1000,
        std::int64_t{std::clamp(pixels / startPixelsPerKbps, floorKbps, highestBitrateKbps)} * 1000,
        std::int64_t{std::clamp(pixels / ceilingPixelsPerKbps, floorKbps, highestBitrateKbps)} * 1000};

    g_object_set(source, "is-live", TRUE, "format", GST_FORMAT_TIME, "do-timestamp", TRUE, nullptr);
    g_object_set(queue, "leaky", 2 /* downstream: drop the older frame */, "max-size-buffers", 1U, "max-size-bytes", 0U,
                 "max-size-time", G_GUINT64_CONSTANT(0), nullptr);
    const CapsRef h264(gst_caps_from_string("video/x-h264,profile=constrained-baseline"));
    g_object_set(filter, "caps", h264.get(), nullptr);
    gst_util_set_object_arg(G_OBJECT(payloader), "aggregate-mode", "zero-latency");
    g_object_set(payloader, "config-interval", -1, "pt", static_cast<guint>(payloadType), nullptr);

    gst_bin_add_many(GST_BIN(pipeline), source, queue, encoder, filter, payloader, nullptr);
    const auto pacing = PacketPacing::create(pipeline, bounds.startBps);
    if (!pacing) return nullptr;
    pacing->limitRetransmissions(webrtcbin);
    std::unique_ptr<VideoSender> sender(new VideoSender(std::move(capturer), source));
    const GstRef<GstPad> encoded(gst_element_get_static_pad(encoder, "src"));
    gst_pad_add_probe(encoded.get(), GST_PAD_PROBE_TYPE_BUFFER, countBuffer, new SharedCounter(sender->framesEncoded_),
                      releaseCounter);
    const GstRef<GstPad> sink(gst_element_request_pad_simple(webrtcbin, "sink_%u"));
    const GstRef<GstPad> paced(gst_element_get_static_pad(pacing->output(), "src"));
    if (!gst_element_link_many(source, queue, encoder, filter, payloader, pacing->input(), nullptr) || !sink ||
        gst_pad_link(paced.get(), sink.get()) != GST_PAD_LINK_OK)
        return nullptr;
    GstWebRTCRTPTransceiver* transceiver = nullptr;
    g_object_get(sink.get(), "transceiver", &transceiver, nullptr);
    sender->transceiver_.reset(transceiver);
    if (!transceiver) return nullptr;
    // NACK puts retransmission (rtx) in the offer as well.
    g_object_set(transceiver, "direction", GST_WEBRTC_RTP_TRANSCEIVER_DIRECTION_SENDONLY, "do-nack", TRUE, nullptr);
    sender->rateAdapter_ = std::make_unique<SendRateAdapter>(webrtcbin, encoder, payloader, pacing, pixels, bounds);
    // The pipeline stops before the sender goes: no request arrives after it.
    sender->rateAdapter_->whenKeyFrameRequested([raw = sender.get()] { raw->sendKeyFrame(); });
    sender->rateAdapter_->whenPictureWantedAgain([raw = sender.get()] { raw->capturer_->offerAgain(); });
    for (GstElement* element : {source, queue, encoder, filter, payloader, pacing->input(), pacing->output()})
        gst_element_sync_state_with_parent(element);
    sender->subscription_ =
        sender->capturer_->subscribe([raw = sender.get()](GstSample* sample) { raw->push(sample); });
    return sender;
}

VideoSender::VideoSender(std::shared_ptr<ScreenCapturer> capturer, GstElement* source)
    : capturer_(std::move(capturer)), source_(GST_ELEMENT(gst_object_ref(source))) {}

VideoSender::~VideoSender() {
    detach();
}

void VideoSender::detach() {
    if (subscription_ == 0) return;
    capturer_->unsubscribe(subscription_);
    subscription_ = 0;
}

void VideoSender::setFlowing(bool flowing) {
    if (!flowing_.exchange(flowing) && flowing) sendKeyFrame();
}

void VideoSender::sendKeyFrame() {
    keyFrameWanted_.store(true);
    capturer_->resendNow();
}

void VideoSender::push(GstSample* sample) {
    if (!flowing_.load() || !rateAdapter_->admitFrame()) return;
    GstCaps* caps = gst_sample_get_caps(sample);
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    if (!caps || !buffer) return;
    if (!caps_ || !gst_caps_is_equal(caps_.get(), caps)) {
        caps_.reset(gst_caps_ref(caps));
        gst_app_src_set_caps(GST_APP_SRC(source_.get()), caps);
        gint numerator = 0, denominator = 0;
        if (gst_structure_get_fraction(gst_caps_get_structure(caps, 0), "framerate", &numerator, &denominator) &&
            denominator > 0)
            rateAdapter_->setCaptureRate(static_cast<double>(numerator) / denominator);
    }
    // Ahead of the frame in the stream, so that this very frame becomes the key frame.
    if (keyFrameWanted_.exchange(false))
        gst_element_send_event(source_.get(),
                               gst_video_event_new_downstream_force_key_unit(GST_CLOCK_TIME_NONE, GST_CLOCK_TIME_NONE,
                                                                             GST_CLOCK_TIME_NONE, TRUE, 0));
    // The capture's timestamps belong to its own pipeline; appsrc stamps the
    // frame with this pipeline's time.
    GstBuffer* frame = gst_buffer_copy(buffer);
    GST_BUFFER_PTS(frame) = GST_CLOCK_TIME_NONE;
    GST_BUFFER_DTS(frame) = GST_CLOCK_TIME_NONE;
    gst_app_src_push_buffer(GST_APP_SRC(source_.get()), frame);
}

}  // namespace native_worker::engine::gstreamer
