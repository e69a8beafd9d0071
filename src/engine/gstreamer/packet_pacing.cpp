#include "engine/gstreamer/packet_pacing.h"

#include "engine/congestion/rate_probe.h"
#include "engine/gstreamer/gst_handles.h"

#include <gst/rtp/gstrtpbuffer.h>
#include <gst/video/video.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

namespace native_worker::engine::gstreamer {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// One packet never waits longer, whatever rate the pacer was set to: the
// queue's thread must answer a stopping pipeline promptly.
constexpr auto longestWait = 200ms;
// The queue holds what the pacer has not let go; frame admission keeps that
// short, this bound is only a backstop against an encoder run wild.
constexpr guint heldBytesBound = 4U << 20;
// A retransmission may put this much ahead of the packets queued: more than a
// new frame may (it repairs a picture the receiver waits for), not unbounded.
constexpr auto retransmissionBacklogBound = 100ms;
// Beyond the path's queue, how long a copy takes to reach the receiver and
// its arrival to stop the receiver's requests.
constexpr auto copyArrivalMargin = 50ms;
// A probe lasts long enough that a shaper's burst allowance, which lets the
// first few kilobytes through at the line's speed, does not pass for the
// path's rate; a slow probe's copies still come close enough together to be
// told from the packets after it.
constexpr double probeSeconds = 0.03;
constexpr int mostProbeCopies = 16;
constexpr guint retransmitterMarginMs = 1000;
constexpr auto longestProbeSpacing = 50ms;
constexpr const char* retransmissionRequest = "GstRTPRetransmissionRequest";
// Marks the requests a probe makes: they are the probe's bytes, over the rate.
constexpr const char* probeField = "kelvarn-probe";

std::int64_t microsecondsNow() {
    return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch()).count();
}

guint bytesOf(GstPadProbeInfo* info) {
    if (GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info)) return static_cast<guint>(gst_buffer_get_size(buffer));
    if (GstBufferList* list = GST_PAD_PROBE_INFO_BUFFER_LIST(info))
        return static_cast<guint>(gst_buffer_list_calculate_size(list));
    return 0;
}

void releasePacing(gpointer pacing) {
    delete static_cast<std::shared_ptr<PacketPacing>*>(pacing);
}

GstPadProbeReturn waitForDeparture(GstPad*, GstPadProbeInfo* info, gpointer pacing) {
    auto& shared = *static_cast<std::shared_ptr<PacketPacing>*>(pacing);
    const auto departure = shared->departure(bytesOf(info));
    std::this_thread::sleep_until(std::min(departure, Clock::now() + longestWait));
    if (GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info)) shared->remember(buffer);
    return GST_PAD_PROBE_OK;
}

using SharedPacing = std::shared_ptr<PacketPacing>;

GstPadProbeReturn filterRetransmissionRequest(GstPad*, GstPadProbeInfo* info, gpointer pacing) {
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
    const GstStructure* structure = event ? gst_event_get_structure(event) : nullptr;
    if (!structure || !gst_structure_has_name(structure, retransmissionRequest) ||
        gst_structure_has_field(structure, probeField))
        return GST_PAD_PROBE_OK;
    guint ssrc = 0;
    guint sequence = 0;
    if (!gst_structure_get_uint(structure, "ssrc", &ssrc) || !gst_structure_get_uint(structure, "seqnum", &sequence))
        return GST_PAD_PROBE_OK;
    return (*static_cast<SharedPacing*>(pacing))->admitRetransmission(ssrc, sequence) ? GST_PAD_PROBE_OK
                                                                                      : GST_PAD_PROBE_DROP;
}

// webrtcbin makes its retransmission sender while it negotiates, deep inside.
void onElementAdded(GstBin*, GstBin*, GstElement* element, gpointer pacing) {
    GstElementFactory* factory = gst_element_get_factory(element);
    if (!factory || std::strcmp(GST_OBJECT_NAME(factory), "rtprtxsend") != 0) return;
    GstPad* source = gst_element_get_static_pad(element, "src");
    if (!source) return;
    // It keeps its copies by the RTP clock, which runs ahead of the packets'
    // departures by the capture, encoding and pacing in between: a margin
    // over what the pacing may ask it for.
    g_object_set(element, "max-size-packets", 0U, "max-size-time",
                 static_cast<guint>(congestion::SentPackets::keptUs / 1000 + retransmitterMarginMs), nullptr);
    gst_pad_add_probe(source, GST_PAD_PROBE_TYPE_EVENT_UPSTREAM, filterRetransmissionRequest,
                      new SharedPacing(*static_cast<SharedPacing*>(pacing)), releasePacing);
    (*static_cast<SharedPacing*>(pacing))->takeRetransmitter(source);
}

void releasePacingClosure(gpointer pacing, GClosure*) {
    releasePacing(pacing);
}

}  // namespace

std::shared_ptr<PacketPacing> PacketPacing::create(GstElement* bin, std::int64_t bps) {
    GstElement* splitter = gst_element_factory_make("identity", nullptr);
    GstElement* queue = gst_element_factory_make("queue", nullptr);
    if (!splitter || !queue) {
        for (GstElement* element : {splitter, queue})
            if (element) gst_object_unref(gst_object_ref_sink(element));
        return nullptr;
    }
    g_object_set(queue, "max-size-buffers", 0U, "max-size-time", G_GUINT64_CONSTANT(0), "max-size-bytes",
                 heldBytesBound, nullptr);
    gst_bin_add_many(GST_BIN(bin), splitter, queue, nullptr);
    if (!gst_element_link(splitter, queue)) return nullptr;
    std::shared_ptr<PacketPacing> pacing(new PacketPacing(bps));
    pacing->input_ = splitter;
    pacing->output_ = queue;
    GstPad* source = gst_element_get_static_pad(queue, "src");
    gst_pad_add_probe(source, static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST),
                      waitForDeparture, new std::shared_ptr<PacketPacing>(pacing), releasePacing);
    gst_object_unref(source);
    return pacing;
}

void PacketPacing::setRate(std::int64_t bps) {
    std::lock_guard lock(mutex_);
    pacer_.setRate(bps);
}

std::chrono::microseconds PacketPacing::backlog() const {
    std::lock_guard lock(mutex_);
    return std::chrono::microseconds(pacer_.backlogUs(microsecondsNow()));
}

void PacketPacing::limitRetransmissions(GstElement* webrtcbin) {
    g_signal_connect_data(webrtcbin, "deep-element-added", G_CALLBACK(onElementAdded),
                          new SharedPacing(shared_from_this()), releasePacingClosure, GConnectFlags{});
}

bool PacketPacing::admitRetransmission(guint ssrc, guint sequence) {
    std::unique_lock lock(mutex_);
    const std::int64_t now = microsecondsNow();
    const auto answer = sent_.onRequest(ssrc, sequence, now, pathQueue_.count());
    if (!answer.copyBytes) {
        lock.unlock();
        if (answer.keyFrame) requestKeyFrame();
        return false;
    }
    if (requests_.copyUnderWay(ssrc, sequence, now, (pathQueue_ + copyArrivalMargin).count())) return false;
    if (!pacer_.admitUnqueued(*answer.copyBytes, now, std::chrono::microseconds(retransmissionBacklogBound).count()))
        return false;
    requests_.onCopySent(ssrc, sequence, now);
    return true;
}

// Upstream, as a receiver's request for one comes: through the payloader to
// the encoder, whose watch on such requests also brings the captured frame.
void PacketPacing::requestKeyFrame() {
    const GstRef<GstPad> pad(gst_element_get_static_pad(input_, "sink"));
    if (pad) gst_pad_push_event(pad.get(), gst_video_event_new_upstream_force_key_unit(GST_CLOCK_TIME_NONE, TRUE, 0));
}

void PacketPacing::setPathQueue(std::chrono::microseconds queue) {
    std::lock_guard lock(mutex_);
    pathQueue_ = queue;
}

PacketPacing::PacketPacing(std::int64_t bps) : pacer_(bps) {
    g_weak_ref_init(&retransmitter_, nullptr);
}

PacketPacing::~PacketPacing() {
    g_weak_ref_clear(&retransmitter_);
}

void PacketPacing::takeRetransmitter(GstPad* source) {
    g_weak_ref_set(&retransmitter_, source);
    gst_object_unref(source);
}

void PacketPacing::remember(GstBuffer* packet) {
    GstRTPBuffer rtp = GST_RTP_BUFFER_INIT;
    if (!gst_rtp_buffer_map(packet, GST_MAP_READ, &rtp)) return;
    const congestion::SentPackets::Packet sent{gst_rtp_buffer_get_ssrc(&rtp), gst_rtp_buffer_get_seq(&rtp),
                                               static_cast<std::uint32_t>(gst_buffer_get_size(packet)),
                                               microsecondsNow()};
    gst_rtp_buffer_unmap(&rtp);
    std::lock_guard lock(mutex_);
    sent_.onSent(sent);
}

void PacketPacing::sendProbe(std::int64_t bps) {
    const GstRef<GstPad> retransmitter(static_cast<GstPad*>(g_weak_ref_get(&retransmitter_)));
    std::vector<congestion::SentPackets::Packet> latest;
    {
        std::lock_guard lock(mutex_);
        latest = sent_.latest(static_cast<std::size_t>(mostProbeCopies));  // each copy another packet
    }
    if (!retransmitter || latest.empty() || bps <= 0) return;
    double packetBytes = 0;
    for (const auto& packet : latest) packetBytes += packet.bytes;
    packetBytes = std::max(1.0, packetBytes / static_cast<double>(latest.size()));
    const int copies =
        std::clamp(static_cast<int>(std::ceil(static_cast<double>(bps) * probeSeconds / 8 / packetBytes)),
                   congestion::RateProbe::packetsToMeasure, mostProbeCopies);
    const auto spacing = std::min<std::chrono::microseconds>(
        longestProbeSpacing,
        std::chrono::microseconds(static_cast<std::int64_t>(packetBytes * 8e6 / static_cast<double>(bps))));
    auto next = Clock::now();
    for (int copy = 0; copy < copies; ++copy, next += spacing) {
        std::this_thread::sleep_until(next);
        const auto& packet = latest[static_cast<std::size_t>(copy) % latest.size()];
        gst_pad_send_event(retransmitter.get(),
                           gst_event_new_custom(
                               GST_EVENT_CUSTOM_UPSTREAM,
                               gst_structure_new(retransmissionRequest, "seqnum", G_TYPE_UINT, packet.sequence, "ssrc",
                                                 G_TYPE_UINT, packet.ssrc, probeField, G_TYPE_BOOLEAN, TRUE, nullptr)));
    }
}

Clock::time_point PacketPacing::departure(std::uint32_t bytes) {
    std::lock_guard lock(mutex_);
    return Clock::time_point(std::chrono::microseconds(pacer_.departureUs(bytes, microsecondsNow())));
}

}  // namespace native_worker::engine::gstreamer
