#include "engine/gstreamer/data_channel.h"

namespace native_worker::engine::gstreamer {
namespace {

// The engine's codes: 0 connecting, 1 open, 2 closing, 3 closed.
std::int32_t engineState(GstWebRTCDataChannelState state) {
    switch (state) {
        case GST_WEBRTC_DATA_CHANNEL_STATE_OPEN:
            return dataChannelOpen;
        case GST_WEBRTC_DATA_CHANNEL_STATE_CLOSING:
            return 2;
        case GST_WEBRTC_DATA_CHANNEL_STATE_CLOSED:
            return 3;
        default:
            return 0;
    }
}

void releaseLink(gpointer link, GClosure*) {
    delete static_cast<std::weak_ptr<WebRtcDataChannel>*>(link);
}

}  // namespace

std::shared_ptr<WebRtcDataChannel> WebRtcDataChannel::wrap(GstWebRTCDataChannel* channel,
                                                           std::shared_ptr<CallbackQueue> queue) {
    if (!channel) return nullptr;
    auto wrapped = std::make_shared<WebRtcDataChannel>(Private{}, channel, std::move(queue));
    wrapped->connectSignals();
    return wrapped;
}

WebRtcDataChannel::WebRtcDataChannel(Private, GstWebRTCDataChannel* channel, std::shared_ptr<CallbackQueue> queue)
    : channel_(takeRef(channel)), queue_(std::move(queue)) {
    gchar* label = nullptr;
    g_object_get(channel, "label", &label, nullptr);
    const GFreeString owned(label);
    if (label) label_ = label;
}

WebRtcDataChannel::~WebRtcDataChannel() {
    for (const gulong handler : handlers_) g_signal_handler_disconnect(channel_.get(), handler);
}

void WebRtcDataChannel::connectSignals() {
    const auto connect = [this](const char* signal, GCallback handler) {
        handlers_.push_back(g_signal_connect_data(channel_.get(), signal, handler, new Link(weak_from_this()),
                                                  releaseLink, GConnectFlags{}));
    };
    connect("on-open", G_CALLBACK(&WebRtcDataChannel::onStateEvent));
    connect("on-close", G_CALLBACK(&WebRtcDataChannel::onStateEvent));
    connect("on-error", G_CALLBACK(&WebRtcDataChannel::onError));
    connect("notify::ready-state", G_CALLBACK(&WebRtcDataChannel::onReadyState));
    connect("on-message-string", G_CALLBACK(&WebRtcDataChannel::onText));
    connect("on-message-data", G_CALLBACK(&WebRtcDataChannel::onData));
}

void WebRtcDataChannel::registerObserver(DataChannelObserver* observer) {
    {
        std::lock_guard lock(observerMutex_);
        observer_ = observer;
        deliveredState_ = -1;
    }
    post(&WebRtcDataChannel::deliverState);
}

void WebRtcDataChannel::unregisterObserver() {
    std::lock_guard lock(observerMutex_);
    observer_ = nullptr;
}

void WebRtcDataChannel::send(std::string_view data, bool binary) {
    GError* error = nullptr;
    if (binary) {
        GBytes* bytes = g_bytes_new(data.data(), data.size());
        gst_webrtc_data_channel_send_data_full(channel_.get(), bytes, &error);
        g_bytes_unref(bytes);
    } else {
        const std::string text(data);  // webrtcbin takes text up to its terminating zero
        gst_webrtc_data_channel_send_string_full(channel_.get(), text.c_str(), &error);
    }
    // A channel that is not open refuses the message; like the engine it
    // stands for, the channel reports nothing for it.
    if (error) g_error_free(error);
}

void WebRtcDataChannel::close() {
    gst_webrtc_data_channel_close(channel_.get());
}

DataChannelInit WebRtcDataChannel::settings() const {
    DataChannelInit init;
    gboolean ordered = TRUE;
    gboolean negotiated = FALSE;
    gint lifetime = -1;
    gint retransmits = -1;
    gint id = -1;
    gchar* protocol = nullptr;
    g_object_get(channel_.get(), "ordered", &ordered, "negotiated", &negotiated, "max-packet-lifetime", &lifetime,
                 "max-retransmits", &retransmits, "id", &id, "protocol", &protocol, nullptr);
    const GFreeString ownedProtocol(protocol);
    init.ordered = ordered != FALSE;
    init.negotiated = negotiated != FALSE;
    init.maxRetransmitTimeMs = lifetime;
    init.maxRetransmits = retransmits;
    init.reliable = lifetime < 0 && retransmits < 0;
    init.id = id;
    init.protocol = protocol ? protocol : "";
    return init;
}

void WebRtcDataChannel::post(void (WebRtcDataChannel::*task)()) {
    queue_->post([link = weak_from_this(), task] {
        if (const auto self = link.lock()) (self.get()->*task)();
    });
}

void WebRtcDataChannel::postMessage(std::string data, bool binary) {
    queue_->post([link = weak_from_this(), data = std::move(data), binary] {
        const auto self = link.lock();
        if (!self) return;
        std::lock_guard lock(self->observerMutex_);
        if (self->observer_) self->observer_->onMessage(data.data(), static_cast<std::int32_t>(data.size()), binary);
    });
}

void WebRtcDataChannel::deliverState() {
    GstWebRTCDataChannelState state = GST_WEBRTC_DATA_CHANNEL_STATE_CONNECTING;
    g_object_get(channel_.get(), "ready-state", &state, nullptr);
    const std::int32_t code = engineState(state);
    std::lock_guard lock(observerMutex_);
    if (!observer_ || code == deliveredState_) return;
    deliveredState_ = code;
    observer_->onStateChange(code);
}

void WebRtcDataChannel::onStateEvent(GstWebRTCDataChannel*, gpointer link) {
    if (const auto self = static_cast<Link*>(link)->lock()) self->post(&WebRtcDataChannel::deliverState);
}

void WebRtcDataChannel::onError(GstWebRTCDataChannel*, GError*, gpointer link) {
    onStateEvent(nullptr, link);
}

void WebRtcDataChannel::onReadyState(GObject*, GParamSpec*, gpointer link) {
    onStateEvent(nullptr, link);
}

void WebRtcDataChannel::onText(GstWebRTCDataChannel*, gchar* text, gpointer link) {
    if (const auto self = static_cast<Link*>(link)->lock()) self->postMessage(text ? text : "", false);
}

void WebRtcDataChannel::onData(GstWebRTCDataChannel*, GBytes* data, gpointer link) {
    const auto self = static_cast<Link*>(link)->lock();
    if (!self) return;
    gsize size = 0;
    const auto* bytes = data ? static_cast<const char*>(g_bytes_get_data(data, &size)) : nullptr;
    self->postMessage(bytes ? std::string(bytes, size) : std::string(), true);
}

}  // namespace native_worker::engine::gstreamer
