#include "engine/gstreamer/peer_connection.h"

#include "engine/gstreamer/codec_capabilities.h"
#include "engine/gstreamer/ice_candidate.h"
#include "engine/gstreamer/ice_configuration.h"
#include "engine/gstreamer/operation_promise.h"
#include "engine/gstreamer/session_description.h"
#include "engine/gstreamer/statistics.h"
#include "engine/gstreamer/transceiver.h"
#include "engine/gstreamer/video_receiver.h"

namespace native_worker::engine::gstreamer {
namespace {

constexpr std::int32_t iceStateClosed = GST_WEBRTC_ICE_CONNECTION_STATE_CLOSED;
constexpr guint retransmissionWaitMs = 150;
constexpr gdouble rtcpShare = 0.2;
// Often enough for congestion control to see a queue build within a frame or two.
constexpr guint64 transportFeedbackInterval = 50 * GST_MSECOND;

// webrtcbin leaves NACK off for a transceiver it makes while answering; a
// receiver that never asks again turns every lost packet into a frozen
// picture until the next key frame. Its requests, like the transport-wide
// feedback, travel in early RTCP, which the session rations by its RTCP share
// of the stream's rate: at the customary 5 % a lost packet's request often
// waits for the next regular report, seconds away, and the frame is lost.
// Only a gap is a loss: a still screen sends a frame a second, and a packet
// expected at the stream's old pace would be asked for, then given up as lost,
// and every quiet second would end in a request for a key frame.
void requestRetransmissions(GstElement* rtpbin, GstElement* jitterBuffer, guint session, guint, gpointer) {
    g_object_set(jitterBuffer, "do-retransmission", TRUE, "rtx-next-seqnum", FALSE, nullptr);
    GObject* rtpSession = nullptr;
    g_signal_emit_by_name(rtpbin, "get-internal-session", session, &rtpSession);
    if (!rtpSession) return;
    g_object_set(rtpSession, "rtcp-fraction", rtcpShare, "twcc-feedback-interval", transportFeedbackInterval, nullptr);
    g_object_unref(rtpSession);
}

}  // namespace

std::shared_ptr<WebRtcPeerConnection> WebRtcPeerConnection::create(const PeerConnectionConfiguration& configuration) {
    auto connection = std::make_shared<WebRtcPeerConnection>(Private{}, configuration);
    if (!connection->start()) return nullptr;
    return connection;
}

WebRtcPeerConnection::WebRtcPeerConnection(Private, const PeerConnectionConfiguration& configuration)
    : configuration_(configuration),
      queue_(std::make_shared<CallbackQueue>()),
      operations_(std::make_shared<OperationTracker>(queue_)) {}

WebRtcPeerConnection::~WebRtcPeerConnection() {
    close();
}

bool WebRtcPeerConnection::start() {
    pipeline_ = gst_pipeline_new(nullptr);
    webrtcbin_ = gst_element_factory_make("webrtcbin", nullptr);
    if (!pipeline_ || !webrtcbin_) {
        if (webrtcbin_) gst_object_unref(gst_object_ref_sink(webrtcbin_));
        webrtcbin_ = nullptr;
        return false;
    }
    gst_util_set_object_arg(G_OBJECT(webrtcbin_), "bundle-policy", "max-bundle");
    // Packets in order pass the jitter buffer at once; a gap waits up to this
    // long for its retransmission before the frame is given up as lost.
    g_object_set(webrtcbin_, "latency", retransmissionWaitMs, nullptr);
    if (const GstRef<GstElement> rtpbin(gst_bin_get_by_name(GST_BIN(webrtcbin_), "rtpbin")); rtpbin)
        g_signal_connect(rtpbin.get(), "new-jitterbuffer", G_CALLBACK(&requestRetransmissions), nullptr);
    gst_bin_add(GST_BIN(pipeline_), webrtcbin_);
    const auto ice = iceSettings(configuration_, g_getenv(localAddressesVariable));
    if (!ice || !applyIceSettings(webrtcbin_, *ice)) return false;
    monitor_ = std::make_unique<ConnectionMonitor>(
        webrtcbin_, [this](PeerConnectionState state) { connectionStateChanged(state); });

    g_signal_connect(webrtcbin_, "on-ice-candidate", G_CALLBACK(&WebRtcPeerConnection::onIceCandidate), this);
    g_signal_connect(webrtcbin_, "on-data-channel", G_CALLBACK(&WebRtcPeerConnection::onDataChannel), this);
    g_signal_connect(webrtcbin_, "pad-added", G_CALLBACK(&WebRtcPeerConnection::onPadAdded), this);
    g_signal_connect(webrtcbin_, "on-new-transceiver", G_CALLBACK(&WebRtcPeerConnection::onNewTransceiver), this);
    g_signal_connect(webrtcbin_, "notify::connection-state", G_CALLBACK(&WebRtcPeerConnection::onStateNotify), this);
    const GstRef<GstBus> bus(gst_element_get_bus(pipeline_));
    gst_bus_set_sync_handler(bus.get(), &WebRtcPeerConnection::onBusMessage, this, nullptr);
    return gst_element_set_state(pipeline_, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE;
}

void WebRtcPeerConnection::registerObserver(PeerConnectionObserver* observer) {
    std::lock_guard lock(observerMutex_);
    observer_ = observer;
}

void WebRtcPeerConnection::unregisterObserver() {
    std::lock_guard lock(observerMutex_);
    observer_ = nullptr;
}

void WebRtcPeerConnection::notifyObserver(std::function<void(PeerConnectionObserver&)> notification) {
    queue_->post([link = weak_from_this(), notification = std::move(notification)] {
        const auto self = link.lock();
        if (!self) return;
        std::lock_guard lock(self->observerMutex_);
        if (self->observer_) notification(*self->observer_);
    });
}

void WebRtcPeerConnection::createOffer(DescriptionSuccess onSuccess, Failure onFailure,
                                       const std::shared_ptr<MediaConstraints>&) {
    createDescription(true, std::move(onSuccess), std::move(onFailure));
}

void WebRtcPeerConnection::createAnswer(DescriptionSuccess onSuccess, Failure onFailure,
                                        const std::shared_ptr<MediaConstraints>&) {
    createDescription(false, std::move(onSuccess), std::move(onFailure));
}

void WebRtcPeerConnection::createDescription(bool offer, DescriptionSuccess onSuccess, Failure onFailure) {
    const std::uint64_t operation = operations_->begin(std::move(onFailure));
    std::lock_guard api(apiMutex_);
    if (closed_) return operations_->fail(operation, "closed");
    const char* type = offer ? "offer" : "answer";
    GstPromise* promise = operationPromise(
        operations_, operation,
        [operations = operations_, operation, type, onSuccess = std::move(onSuccess)](const GstStructure* reply) {
            GstWebRTCSessionDescription* created = nullptr;
            if (!reply || !gst_structure_get(reply, type, GST_TYPE_WEBRTC_SESSION_DESCRIPTION, &created, nullptr) ||
                !created)
                return operations->fail(operation, "no description");
            const Description description(created);
            operations->succeed(operation,
                                [onSuccess, sdp = descriptionText(*description), type] { onSuccess(sdp, type); });
        });
    g_signal_emit_by_name(webrtcbin_, offer ? "create-offer" : "create-answer", nullptr, promise);
    gst_promise_unref(promise);
}

void WebRtcPeerConnection::setLocalDescription(const std::string& sdp, const std::string& type, Success onSuccess,
                                               Failure onFailure) {
    applyDescription(true, sdp, type, std::move(onSuccess), std::move(onFailure));
}

void WebRtcPeerConnection::setRemoteDescription(const std::string& sdp, const std::string& type, Success onSuccess,
                                                Failure onFailure) {
    applyDescription(false, sdp, type, std::move(onSuccess), std::move(onFailure));
}

void WebRtcPeerConnection::applyDescription(bool local, const std::string& sdp, const std::string& type,
                                            Success onSuccess, Failure onFailure) {
    const std::uint64_t operation = operations_->begin(std::move(onFailure));
    const auto sdpType = descriptionType(type);
    const Description description = sdpType ? parseDescription(sdp, *sdpType) : nullptr;
    if (!description) return operations_->fail(operation, "invalid description");
    {
        std::lock_guard lock(mutex_);
        // Candidates name their media line by index; the mid is read from here.
        if (local) {
            localMediaIds_ = mediaIds(*description->sdp);
        } else {
            receivedVideoMimeType_ = videoMimeType(*description->sdp);
            answerPreferences_ = h264AnswerPreferences(*description->sdp);
        }
    }
    std::lock_guard api(apiMutex_);
    if (closed_) return operations_->fail(operation, "closed");
    GstPromise* promise = operationPromise(operations_, operation,
                                           [operations = operations_, operation, onSuccess = std::move(onSuccess)](
                                               const GstStructure*) { operations->succeed(operation, onSuccess); });
    g_signal_emit_by_name(webrtcbin_, local ? "set-local-description" : "set-remote-description", description.get(),
                          promise);
    gst_promise_unref(promise);
}

void WebRtcPeerConnection::addCandidate(const std::string&, std::int32_t sdpMLineIndex, const std::string& candidate) {
    std::lock_guard api(apiMutex_);
    if (closed_ || sdpMLineIndex < 0) return;
    // webrtcbin names the media line by index only; with one bundled
    // transport every candidate serves all lines anyway.
    g_signal_emit_by_name(webrtcbin_, "add-ice-candidate", static_cast<guint>(sdpMLineIndex), candidate.c_str());
}

std::shared_ptr<DataChannel> WebRtcPeerConnection::createDataChannel(const std::string& label,
                                                                     const DataChannelInit& init) {
    std::lock_guard api(apiMutex_);
    if (closed_) return nullptr;
    const StructureRef options(gst_structure_new("data-channel-options", "ordered", G_TYPE_BOOLEAN, init.ordered,
                                                 "protocol", G_TYPE_STRING, init.protocol.c_str(), "negotiated",
                                                 G_TYPE_BOOLEAN, init.negotiated, "id", G_TYPE_INT, init.id, nullptr));
    if (init.maxRetransmits >= 0)
        gst_structure_set(options.get(), "max-retransmits", G_TYPE_INT, init.maxRetransmits, nullptr);
    if (init.maxRetransmitTimeMs >= 0)
        gst_structure_set(options.get(), "max-packet-lifetime", G_TYPE_INT, init.maxRetransmitTimeMs, nullptr);
    GstWebRTCDataChannel* created = nullptr;
    g_signal_emit_by_name(webrtcbin_, "create-data-channel", label.c_str(), options.get(), &created);
    const GstRef<GstWebRTCDataChannel> channel(created);
    auto wrapped = WebRtcDataChannel::wrap(channel.get(), queue_);
    if (!wrapped) return nullptr;
    std::lock_guard lock(mutex_);
    channels_.push_back(wrapped);
    return wrapped;
}

std::shared_ptr<RtpTransceiver> WebRtcPeerConnection::addTrack(const std::shared_ptr<VideoTrack>& track,
                                                               const std::vector<std::string>&) {
    const auto local = std::dynamic_pointer_cast<Track>(track);
    if (!local || !local->capturer()) return nullptr;
    std::lock_guard api(apiMutex_);
    if (closed_) return nullptr;
    {
        std::lock_guard lock(mutex_);
        if (sender_) return nullptr;  // one video track per connection
    }
    auto sender =
        VideoSender::create(pipeline_, webrtcbin_, local->capturer(), configuration_.screencastMinBitrateKbps);
    if (!sender) return nullptr;
    const auto& capturer = sender->capturer();
    auto transceiver = std::make_shared<Transceiver>(sender->transceiver(), MediaKind::video, nullptr,
                                                     Transceiver::FrameSize{capturer->width(), capturer->height()});
    // What the worker would choose anyway, so that an offer never lacks a codec.
    transceiver->setCodecPreferences(senderCodecs(MediaKind::video));
    sender->setFlowing(monitor_->state() == stateConnected);
    std::lock_guard lock(mutex_);
    sender_ = std::move(sender);
    return transceiver;
}

void WebRtcPeerConnection::getStats(StatsSuccess onSuccess, Failure onFailure) {
    const std::uint64_t operation = operations_->begin(std::move(onFailure));
    std::lock_guard api(apiMutex_);
    if (closed_) return operations_->fail(operation, "closed");
    GstPromise* promise = operationPromise(
        operations_, operation,
        [link = weak_from_this(), operations = operations_, operation,
         onSuccess = std::move(onSuccess)](const GstStructure* reply) {
            const auto self = link.lock();
            if (!reply || !self) return operations->fail(operation, "no statistics");
            StatsAdditions additions;
            {
                std::lock_guard lock(self->mutex_);
                if (self->sender_) {
                    additions.framesEncoded = self->sender_->framesEncoded();
                    additions.sentVideoMimeType = h264MimeType;
                }
                additions.videoMimeType = self->receivedVideoMimeType_;
            }
            operations->succeed(operation,
                                [onSuccess, reports = statsReports(*reply, additions)] { onSuccess(reports); });
        });
    g_signal_emit_by_name(webrtcbin_, "get-stats", nullptr, promise);
    gst_promise_unref(promise);
}

PeerConnectionState WebRtcPeerConnection::connectionState() {
    return closed_.load() ? stateClosed : monitor_->state();
}

std::int32_t WebRtcPeerConnection::iceConnectionState() {
    std::lock_guard api(apiMutex_);
    if (closed_) return iceStateClosed;
    GstWebRTCICEConnectionState state{};
    g_object_get(webrtcbin_, "ice-connection-state", &state, nullptr);
    return static_cast<std::int32_t>(state);
}

void WebRtcPeerConnection::connectionStateChanged(PeerConnectionState state) {
    {
        std::lock_guard lock(mutex_);
        if (sender_) sender_->setFlowing(state == stateConnected);
    }
    notifyObserver([state](PeerConnectionObserver& observer) { observer.onConnectionState(state); });
}

void WebRtcPeerConnection::close() {
    {
        std::lock_guard api(apiMutex_);
        if (closed_.load() || !pipeline_) return;
        closed_.store(true);
    }
    if (monitor_) monitor_->stop();
    notifyObserver([](PeerConnectionObserver& observer) { observer.onConnectionState(stateClosed); });
    std::vector<std::shared_ptr<WebRtcDataChannel>> channels;
    {
        std::lock_guard lock(mutex_);
        if (sender_) sender_->detach();
        channels = channels_;
    }
    for (const auto& channel : channels) channel->close();
    gst_element_set_state(pipeline_, GST_STATE_NULL);
    g_signal_handlers_disconnect_by_data(webrtcbin_, this);
    const GstRef<GstBus> bus(gst_element_get_bus(pipeline_));
    gst_bus_set_sync_handler(bus.get(), nullptr, nullptr, nullptr);
    // webrtcbin no longer runs: whatever it did not answer never will be.
    operations_->failAll("closed");
    queue_->stop();
    {
        std::lock_guard lock(mutex_);
        sender_.reset();
        channels_.clear();
    }
    gst_object_unref(pipeline_);
    pipeline_ = nullptr;
    webrtcbin_ = nullptr;
}

void WebRtcPeerConnection::onIceCandidate(GstElement*, guint mediaLine, gchar* candidate, gpointer self) {
    auto* connection = static_cast<WebRtcPeerConnection*>(self);
    // webrtcbin marks the end of gathering with an empty candidate.
    if (!candidate || !*candidate) return;
    std::string mid;
    {
        std::lock_guard lock(connection->mutex_);
        if (mediaLine < connection->localMediaIds_.size()) mid = connection->localMediaIds_[mediaLine];
    }
    auto gathered = std::make_shared<Candidate>(candidate, std::move(mid), static_cast<std::int32_t>(mediaLine));
    connection->notifyObserver([gathered](PeerConnectionObserver& observer) { observer.onIceCandidate(gathered); });
}

// Every transceiver asks for lost packets again (NACK); a sending one then
// retransmits them, a receiving one sends the requests. webrtcbin makes the
// receiving one while it answers: it answers the offer's H264 with the offer's
// own feedback types and header extensions, so the sender hears transport-wide
// feedback.
void WebRtcPeerConnection::onNewTransceiver(GstElement*, GstWebRTCRTPTransceiver* transceiver, gpointer self) {
    auto* connection = static_cast<WebRtcPeerConnection*>(self);
    g_object_set(transceiver, "do-nack", TRUE, nullptr);
    GstCaps* current = nullptr;
    g_object_get(transceiver, "codec-preferences", &current, nullptr);
    const CapsRef chosen(current);
    std::lock_guard lock(connection->mutex_);
    if (!chosen && connection->answerPreferences_)
        g_object_set(transceiver, "codec-preferences", connection->answerPreferences_.get(), nullptr);
}

void WebRtcPeerConnection::onDataChannel(GstElement*, GstWebRTCDataChannel* channel, gpointer self) {
    auto* connection = static_cast<WebRtcPeerConnection*>(self);
    auto wrapped = WebRtcDataChannel::wrap(channel, connection->queue_);
    if (!wrapped) return;
    {
        std::lock_guard lock(connection->mutex_);
        connection->channels_.push_back(wrapped);
    }
    connection->notifyObserver([wrapped](PeerConnectionObserver& observer) { observer.onDataChannel(wrapped); });
}

void WebRtcPeerConnection::onPadAdded(GstElement*, GstPad* pad, gpointer self) {
    // The sink pads a sender requests appear here too.
    if (GST_PAD_DIRECTION(pad) != GST_PAD_SRC) return;
    auto* connection = static_cast<WebRtcPeerConnection*>(self);
    const MediaKind kind = carriesVideo(pad) ? MediaKind::video : MediaKind::audio;
    auto track = receiveVideo(connection->pipeline_, pad);
    GstWebRTCRTPTransceiver* received = nullptr;
    g_object_get(pad, "transceiver", &received, nullptr);
    const GstRef<GstWebRTCRTPTransceiver> owned(received);
    if (!received) return;
    auto transceiver = std::make_shared<Transceiver>(received, kind, std::move(track), Transceiver::FrameSize{});
    connection->notifyObserver([transceiver](PeerConnectionObserver& observer) { observer.onTrack(transceiver); });
}

void WebRtcPeerConnection::onStateNotify(GObject*, GParamSpec*, gpointer self) {
    static_cast<WebRtcPeerConnection*>(self)->monitor_->wake();
}

GstBusSyncReply WebRtcPeerConnection::onBusMessage(GstBus*, GstMessage* message, gpointer self) {
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
        auto* connection = static_cast<WebRtcPeerConnection*>(self);
        connection->monitor_->markFailed();
        connection->operations_->failAll("pipeline failed");
    }
    // Nobody reads this bus: every message ends here (a dropped one is the handler's to release).
    gst_message_unref(message);
    return GST_BUS_DROP;
}

}  // namespace native_worker::engine::gstreamer
