#include "engine/gstreamer/connection_monitor.h"

#include "engine/gstreamer/gst_handles.h"
#include "platform/process.h"

#include <gst/webrtc/webrtc.h>

#include <algorithm>
#include <string_view>

namespace native_worker::engine::gstreamer {
namespace {

constexpr auto tick = std::chrono::milliseconds(200);
constexpr auto reportInterval = std::chrono::milliseconds(500);
constexpr guint bundledSessions = 4;

using SharedTime = std::shared_ptr<std::atomic<std::chrono::steady_clock::rep>>;

GstPadProbeReturn noteTraffic(GstPad*, GstPadProbeInfo*, gpointer lastTraffic) {
    (*static_cast<SharedTime*>(lastTraffic))->store(std::chrono::steady_clock::now().time_since_epoch().count());
    return GST_PAD_PROBE_OK;
}

void releaseTime(gpointer lastTraffic) {
    delete static_cast<SharedTime*>(lastTraffic);
}

bool isNiceSource(GstElement* element) {
    GstElementFactory* factory = gst_element_get_factory(element);
    return factory && std::string_view(GST_OBJECT_NAME(factory)) == "nicesrc";
}

}  // namespace

PeerConnectionState LivenessRule::next(PeerConnectionState webrtcbinState,
                                       std::chrono::steady_clock::duration silence) {
    if (failed_ || webrtcbinState == stateFailed) {
        failed_ = true;
        return stateFailed;
    }
    if (webrtcbinState != stateConnected) return webrtcbinState;
    if (silence >= silenceBeforeFailed) {
        failed_ = true;
        return stateFailed;
    }
    return silence >= silenceBeforeDisconnected ? stateDisconnected : stateConnected;
}

ConnectionMonitor::ConnectionMonitor(GstElement* webrtcbin, Report report)
    : webrtcbin_(webrtcbin),
      report_(std::move(report)),
      lastTraffic_(std::make_shared<std::atomic<TrafficClock::rep>>(0)),
      thread_([this] { run(); }) {}

ConnectionMonitor::~ConnectionMonitor() {
    stop();
}

void ConnectionMonitor::wake() {
    {
        std::lock_guard lock(mutex_);
        woken_ = true;
    }
    wake_.notify_one();
}

void ConnectionMonitor::markFailed() {
    pipelineFailed_.store(true);
    wake();
}

void ConnectionMonitor::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable()) thread_.join();
}

void ConnectionMonitor::run() {
    platform::nameCurrentThread("engine-monitor");
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        wake_.wait_for(lock, tick, [this] { return woken_ || stopping_; });
        if (stopping_) return;
        woken_ = false;
        lock.unlock();
        evaluate();
        lock.lock();
    }
}

void ConnectionMonitor::evaluate() {
    GstWebRTCPeerConnectionState raw{};
    g_object_get(webrtcbin_, "connection-state", &raw, nullptr);
    PeerConnectionState webrtcbinState = pipelineFailed_.load() ? stateFailed : static_cast<PeerConnectionState>(raw);
    const auto now = TrafficClock::now();
    if (webrtcbinState == stateConnected && lastWebrtcbinState_ != stateConnected) connectedSince_ = now;
    lastWebrtcbinState_ = webrtcbinState;
    if (webrtcbinState == stateConnecting || webrtcbinState == stateConnected) {
        watchTransports();
        if (now - lastReportRequest_ >= reportInterval) {
            requestReports();
            lastReportRequest_ = now;
        }
    }
    const TrafficClock::time_point heard{TrafficClock::duration(lastTraffic_->load())};
    const PeerConnectionState next = rule_.next(webrtcbinState, now - std::max(heard, connectedSince_));
    if (state_.exchange(next) != next) report_(next);
}

void ConnectionMonitor::watchTransports() {
    GstIterator* elements = gst_bin_iterate_recurse(GST_BIN(webrtcbin_));
    GValue item = G_VALUE_INIT;
    while (gst_iterator_next(elements, &item) == GST_ITERATOR_OK) {
        auto* element = GST_ELEMENT(g_value_get_object(&item));
        if (isNiceSource(element) && watched_.insert(element).second) {
            const GstRef<GstPad> pad(gst_element_get_static_pad(element, "src"));
            if (pad)
                gst_pad_add_probe(
                    pad.get(), static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST),
                    noteTraffic, new SharedTime(lastTraffic_), releaseTime);
        }
        g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(elements);
}

// RTP sessions report every five seconds at best, and measured here a
// receive-only session stops reporting altogether after its first two
// reports: far too rarely to tell a quiet receiver from a vanished one.
// Asking for a report now and then keeps RTCP flowing both ways.
void ConnectionMonitor::requestReports() {
    const GstRef<GstElement> rtpbin(gst_bin_get_by_name(GST_BIN(webrtcbin_), "rtpbin"));
    if (!rtpbin) return;
    for (guint session = 0; session < bundledSessions; ++session) {
        GObject* internal = nullptr;
        g_signal_emit_by_name(rtpbin.get(), "get-internal-session", session, &internal);
        if (!internal) continue;
        gboolean scheduled = FALSE;
        g_signal_emit_by_name(internal, "send-rtcp-full", G_GUINT64_CONSTANT(0), &scheduled);
        g_object_unref(internal);
    }
}

}  // namespace native_worker::engine::gstreamer
