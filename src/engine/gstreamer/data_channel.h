#pragma once

#include "engine/gstreamer/callback_queue.h"
#include "engine/gstreamer/gst_handles.h"
#include "media/engine.h"

#include <gst/webrtc/webrtc.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace native_worker::engine::gstreamer {

// One webrtcbin data channel. webrtcbin reports its events on its own
// thread; they reach the observer through the connection's callback queue,
// after the announcement of the channel itself, in the order they happened.
class WebRtcDataChannel final : public DataChannel, public std::enable_shared_from_this<WebRtcDataChannel> {
public:
    static std::shared_ptr<WebRtcDataChannel> wrap(GstWebRTCDataChannel* channel, std::shared_ptr<CallbackQueue> queue);
    ~WebRtcDataChannel() override;
    WebRtcDataChannel(const WebRtcDataChannel&) = delete;
    WebRtcDataChannel& operator=(const WebRtcDataChannel&) = delete;

    // A new observer first hears the channel's current state.
    void registerObserver(DataChannelObserver* observer) override;
    void unregisterObserver() override;
    void send(std::string_view data, bool binary) override;
    void close() override;
    std::string label() const override { return label_; }

    // The options webrtcbin holds for the channel, as it negotiated them.
    DataChannelInit settings() const;

private:
    struct Private {};

public:
    WebRtcDataChannel(Private, GstWebRTCDataChannel* channel, std::shared_ptr<CallbackQueue> queue);

private:
    using Link = std::weak_ptr<WebRtcDataChannel>;

    void connectSignals();
    void post(void (WebRtcDataChannel::*task)());
    void postMessage(std::string data, bool binary);
    void deliverState();

    static void onStateEvent(GstWebRTCDataChannel* channel, gpointer link);
    static void onError(GstWebRTCDataChannel* channel, GError* error, gpointer link);
    static void onReadyState(GObject* channel, GParamSpec* property, gpointer link);
    static void onText(GstWebRTCDataChannel* channel, gchar* text, gpointer link);
    static void onData(GstWebRTCDataChannel* channel, GBytes* data, gpointer link);

    GstRef<GstWebRTCDataChannel> channel_;
    std::shared_ptr<CallbackQueue> queue_;
    std::string label_;
    std::vector<gulong> handlers_;

    std::recursive_mutex observerMutex_;  // the observer may call back in
    DataChannelObserver* observer_ = nullptr;
    std::int32_t deliveredState_ = -1;
};

}  // namespace native_worker::engine::gstreamer
