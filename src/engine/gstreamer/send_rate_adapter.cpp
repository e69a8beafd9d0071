#include "engine/gstreamer/send_rate_adapter.h"

#include "engine/gstreamer/codec_capabilities.h"
#include "engine/gstreamer/h264_encoder.h"
#include "platform/process.h"

#include <gst/rtp/gstrtphdrext.h>
#include <gst/video/video.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <vector>

namespace native_worker::engine::gstreamer {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr auto keyFrameSpacing = 500ms;
constexpr auto receiverReportPoll = 500ms;
// How soon a probe the controller asks for goes out.
constexpr auto probePoll = 100ms;
// Transport-wide feedback this recent makes receiver reports redundant.
constexpr auto feedbackFreshness = 2s;
// Encoder rate changes smaller than this are not worth a reconfiguration.
constexpr double rateChangeWorthApplying = 0.05;
// Until the first frame's caps tell the capture rate.
constexpr double defaultCaptureRate = 30;
// Credit for at most this many frames: admission follows a fractional rate
// (24 of 30 frames, not every second one) without letting a burst through.
constexpr double framesOfCredit = 2;
// A frame of an unchanged picture that takes this share of its bit budget is
// sharpening it; once little is left to sharpen, frames come out far smaller.
// Frames come out tiny while it sharpens too, for a few hundred milliseconds
// after one over its budget (a key frame) while x264's rate control repays
// it, so only small frames for longer than that say it is done.
constexpr double sharpeningShareOfBudget = 0.25;
constexpr auto smallFramesWhenSharp = 500ms;
// A frame waits for no more than this of earlier ones in the pacer: a
// desktop's newest picture matters, a queued one only adds delay.
constexpr auto pacerBacklogBound = 50ms;

std::int64_t microseconds(Clock::time_point time) {
    return std::chrono::duration_cast<std::chrono::microseconds>(time.time_since_epoch()).count();
}

}  // namespace

struct SendRateAdapter::State {
    // Not a reference: the probes on the encoder's own pads hold this state,
    // and a reference back would keep the encoder alive for ever. The probes
    // fire only while the pipeline runs, the adapter dies before it.
    State(GstElement* encoderElement, std::shared_ptr<PacketPacing> packetPacing, std::int64_t pixelCount,
          congestion::RateBounds bounds, guint mediaPayloadType)
        : encoder(encoderElement),
          pacing(std::move(packetPacing)),
          pixels(pixelCount),
          payloadType(mediaPayloadType),
          controller(bounds) {
        apply();
    }

    void onTransportFeedback(const std::vector<congestion::PacketFeedback>& packets) {
        std::lock_guard lock(mutex);
        lastFeedback = Clock::now();
        controller.onTransportFeedback(packets, microseconds(*lastFeedback));
        apply();
        if (const auto probe = controller.startProbe(microseconds(*lastFeedback))) probeBps.store(*probe);
    }

    void onReceiverReport(double fractionLost) {
        std::lock_guard lock(mutex);
        const auto now = Clock::now();
        if (lastFeedback && now - *lastFeedback < feedbackFreshness) return;
        controller.onReceiverReport(fractionLost, microseconds(now));
        apply();
    }

    void setCaptureRate(double framesPerSecond) {
        std::lock_guard lock(mutex);
        captureRate = framesPerSecond;
        apply();
    }

    // Called with the mutex held. The encoder spreads its rate over the frame
    // rate its caps announce; it gets only the admitted frames, so it is asked
    // for proportionally more to send the target, and its frame-size bound,
    // in time of its own rate, shrinks alike.
    void apply() {
        const double admitted = controller.frameRate(pixels, captureRate);
        frameRate.store(admitted);
        const auto target = static_cast<double>(controller.targetBps());
        pacing->setRate(controller.pacingBps());
        pacing->setPathQueue(std::chrono::microseconds(controller.queueDelayUs()));
        const double kbps = std::max(1.0, std::round(target * captureRate / admitted / 1000.0));
        if (std::abs(kbps - appliedKbps) < rateChangeWorthApplying * appliedKbps) return;
        appliedKbps = kbps;
        frameBudgetBytes.store(kbps * 1000 / 8 / captureRate);
        setEncoderFrameSizeBound(encoder, static_cast<std::uint32_t>(
                                              std::round(SendRateAdapter::frameSizeBoundMs * admitted / captureRate)));
        setEncoderBitrate(encoder, static_cast<std::uint32_t>(kbps));
    }

    GstElement* const encoder;
    const std::shared_ptr<PacketPacing> pacing;
    const std::int64_t pixels;
    const guint payloadType;  // of the media; the feedback's other packets are retransmissions
    std::atomic<double> frameRate{defaultCaptureRate};
    std::atomic<std::int64_t> probeBps{0};  // a probe due, taken by the poller
    std::atomic<Clock::rep> lastKeyFrameRequest{0};
    std::function<void()> keyFrameRequested;
    std::atomic<double> frameBudgetBytes{0};  // what the encoder's rate affords a frame
    // Since when frames came out small; the encoder's streaming thread only.
    std::optional<Clock::time_point> smallSince;
    std::function<void()> pictureWantedAgain;

    std::mutex mutex;
    congestion::SendRateController controller;
    std::optional<Clock::time_point> lastFeedback;
    double captureRate = defaultCaptureRate;
    double appliedKbps = 0;
};

namespace {

using SharedState = std::shared_ptr<SendRateAdapter::State>;

// GStreamer hands these lists over as GValueArray, which GLib deprecates.
template <typename Visit>
void forEachStructure(const GValue* list, Visit visit) {
    if (!list) return;
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    if (G_VALUE_TYPE(list) != g_value_array_get_type()) return;
    const auto* array = static_cast<const GValueArray*>(g_value_get_boxed(list));
    for (guint i = 0; array && i < array->n_values; ++i)
        if (GST_VALUE_HOLDS_STRUCTURE(&array->values[i])) visit(*gst_value_get_structure(&array->values[i]));
    G_GNUC_END_IGNORE_DEPRECATIONS
}

void releaseState(gpointer state) {
    delete static_cast<SharedState*>(state);
}

std::vector<congestion::PacketFeedback> feedbackPackets(const GstStructure& event, guint mediaPayloadType) {
    std::vector<congestion::PacketFeedback> packets;
    forEachStructure(gst_structure_get_value(&event, "packets"), [&](const GstStructure& packet) {
        guint64 sent = GST_CLOCK_TIME_NONE, arrived = GST_CLOCK_TIME_NONE;
        guint size = 0;
        gboolean lost = FALSE;
        if (!gst_structure_get_uint64(&packet, "local-ts", &sent) || !GST_CLOCK_TIME_IS_VALID(sent)) return;
        gst_structure_get_uint64(&packet, "remote-ts", &arrived);
        gst_structure_get_uint(&packet, "size", &size);
        gst_structure_get_boolean(&packet, "lost", &lost);
        const GValue* payloadType = gst_structure_get_value(&packet, "payload-type");
        const bool retransmission =
            payloadType && G_VALUE_HOLDS_UCHAR(payloadType) && g_value_get_uchar(payloadType) != mediaPayloadType;
        congestion::PacketFeedback feedback{static_cast<std::int64_t>(sent / 1000), std::nullopt, size, retransmission};
        if (!lost && GST_CLOCK_TIME_IS_VALID(arrived))
            feedback.arrivalTimeUs = static_cast<std::int64_t>(arrived / 1000);
        packets.push_back(feedback);
    });
    return packets;
}

GstPadProbeReturn onPayloaderFeedback(GstPad*, GstPadProbeInfo* info, gpointer state) {
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
    const GstStructure* structure = event ? gst_event_get_structure(event) : nullptr;
    if (structure && gst_structure_has_name(structure, "RTPTWCCPackets")) {
        const auto& shared = *static_cast<SharedState*>(state);
        const auto packets = feedbackPackets(*structure, shared->payloadType);
        if (!packets.empty()) shared->onTransportFeedback(packets);
    }
    return GST_PAD_PROBE_OK;
}

GstPadProbeReturn onKeyFrameRequest(GstPad*, GstPadProbeInfo* info, gpointer state) {
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
    if (!event || !gst_video_event_is_force_key_unit(event)) return GST_PAD_PROBE_OK;
    auto& last = (*static_cast<SharedState*>(state))->lastKeyFrameRequest;
    const Clock::rep now = Clock::now().time_since_epoch().count();
    const Clock::rep previous = last.load();
    if (previous != 0 && Clock::duration(now - previous) < keyFrameSpacing) return GST_PAD_PROBE_DROP;
    last.store(now);
    if (const auto& requested = (*static_cast<SharedState*>(state))->keyFrameRequested) requested();
    return GST_PAD_PROBE_OK;
}

GstPadProbeReturn onEncodedFrame(GstPad*, GstPadProbeInfo* info, gpointer state) {
    auto& shared = **static_cast<SharedState*>(state);
    GstBuffer* frame = GST_PAD_PROBE_INFO_BUFFER(info);
    if (!frame || !shared.pictureWantedAgain) return GST_PAD_PROBE_OK;
    const bool small =
        static_cast<double>(gst_buffer_get_size(frame)) < sharpeningShareOfBudget * shared.frameBudgetBytes.load();
    const auto now = Clock::now();
    if (!small)
        shared.smallSince.reset();
    else if (!shared.smallSince)
        shared.smallSince = now;
    if (!shared.smallSince || now - *shared.smallSince < smallFramesWhenSharp) shared.pictureWantedAgain();
    return GST_PAD_PROBE_OK;
}

void addTransportWideSequence(GstElement* payloader) {
    GstRTPHeaderExtension* extension = gst_rtp_header_extension_create_from_uri(transportWideCcUri);
    if (!extension) return;  // without it the sender falls back to receiver reports
    gst_rtp_header_extension_set_id(extension, transportWideCcId);
    g_signal_emit_by_name(payloader, "add-extension", extension);
    gst_object_unref(extension);
}

guint payloadTypeOf(GstElement* payloader) {
    guint payloadType = 0;
    g_object_get(payloader, "pt", &payloadType, nullptr);
    return payloadType;
}

void probeSourcePad(GstElement* element, GstPadProbeType type, GstPadProbeCallback callback, const SharedState& state) {
    const GstRef<GstPad> pad(gst_element_get_static_pad(element, "src"));
    if (pad) gst_pad_add_probe(pad.get(), type, callback, new SharedState(state), releaseState);
}

}  // namespace

SendRateAdapter::SendRateAdapter(GstElement* webrtcbin, GstElement* encoder, GstElement* payloader,
                                 std::shared_ptr<PacketPacing> pacing, std::int64_t pixels,
                                 congestion::RateBounds bounds)
    : state_(std::make_shared<State>(encoder, std::move(pacing), pixels, bounds, payloadTypeOf(payloader))),
      webrtcbin_(webrtcbin) {
    addTransportWideSequence(payloader);
    probeSourcePad(payloader, GST_PAD_PROBE_TYPE_EVENT_UPSTREAM, onPayloaderFeedback, state_);
    probeSourcePad(encoder, GST_PAD_PROBE_TYPE_EVENT_UPSTREAM, onKeyFrameRequest, state_);
    probeSourcePad(encoder, GST_PAD_PROBE_TYPE_BUFFER, onEncodedFrame, state_);
    poller_ = std::thread([this] { serve(); });
}

SendRateAdapter::~SendRateAdapter() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    poller_.join();
}

void SendRateAdapter::whenKeyFrameRequested(std::function<void()> callback) {
    state_->keyFrameRequested = std::move(callback);
}

void SendRateAdapter::whenPictureWantedAgain(std::function<void()> callback) {
    state_->pictureWantedAgain = std::move(callback);
}

bool SendRateAdapter::admitFrame() {
    const auto now = Clock::now();
    const double rate = state_->frameRate.load();
    if (lastFrame_ != Clock::time_point{})
        frameCredit_ =
            std::min(framesOfCredit, frameCredit_ + std::chrono::duration<double>(now - lastFrame_).count() * rate);
    lastFrame_ = now;
    if (frameCredit_ < 1 - 1e-6 || state_->pacing->backlog() > pacerBacklogBound) {
        // Offered again soon: the last change of a burst would otherwise wait
        // for the capture's next refresh, a second later.
        if (state_->pictureWantedAgain) state_->pictureWantedAgain();
        return false;
    }
    frameCredit_ -= 1;
    return true;
}

void SendRateAdapter::setCaptureRate(double framesPerSecond) {
    if (framesPerSecond > 0 && std::isfinite(framesPerSecond)) state_->setCaptureRate(framesPerSecond);
}

// Probes go out here, off the streaming threads: one holds its thread for its length.
void SendRateAdapter::serve() {
    platform::nameCurrentThread("engine-reports");
    std::unique_lock lock(mutex_);
    auto nextReportPoll = Clock::now() + receiverReportPoll;
    while (!wake_.wait_for(lock, probePoll, [this] { return stopping_; })) {
        if (const std::int64_t probe = state_->probeBps.exchange(0)) {
            lock.unlock();
            state_->pacing->sendProbe(probe);
            lock.lock();
        }
        if (Clock::now() < nextReportPoll) continue;
        nextReportPoll = Clock::now() + receiverReportPoll;
        pollReceiverReports();
    }
}

// Receiver reports carry no transport-wide detail but say what was lost; the
// internal RTP session keeps the latest one about our stream.
void SendRateAdapter::pollReceiverReports() {
    const GstRef<GstElement> rtpbin(gst_bin_get_by_name(GST_BIN(webrtcbin_), "rtpbin"));
    GObject* session = nullptr;
    if (rtpbin) g_signal_emit_by_name(rtpbin.get(), "get-internal-session", 0U, &session);
    if (!session) return;
    GstStructure* stats = nullptr;
    g_object_get(session, "stats", &stats, nullptr);
    g_object_unref(session);
    if (!stats) return;
    forEachStructure(gst_structure_get_value(stats, "source-stats"), [&](const GstStructure& source) {
        gboolean internal = FALSE, sender = FALSE, haveReport = FALSE;
        guint fractionLost = 0, sequence = 0;
        gst_structure_get_boolean(&source, "internal", &internal);
        gst_structure_get_boolean(&source, "is-sender", &sender);
        gst_structure_get_boolean(&source, "have-rb", &haveReport);
        if (!internal || !sender || !haveReport || !gst_structure_get_uint(&source, "rb-fractionlost", &fractionLost) ||
            !gst_structure_get_uint(&source, "rb-exthighestseq", &sequence) || lastReportedSequence_ == sequence)
            return;
        lastReportedSequence_ = sequence;
        state_->onReceiverReport(fractionLost / 256.0);
    });
    gst_structure_free(stats);
}

}  // namespace native_worker::engine::gstreamer
