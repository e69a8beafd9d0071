#pragma once

#include "engine/gstreamer/callback_queue.h"
#include "engine/gstreamer/connection_monitor.h"
#include "engine/gstreamer/data_channel.h"
#include "engine/gstreamer/operation_tracker.h"
#include "engine/gstreamer/video_sender.h"
#include "engine/gstreamer/video_track.h"
#include "media/engine.h"

#include <gst/gst.h>
#include <gst/webrtc/webrtc.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace native_worker::engine::gstreamer {

// One peer connection: a pipeline around one webrtcbin. The worker is called
// back only from the connection's callback queue (observer notifications and
// the outcome of every asynchronous operation), and from streaming threads
// for video frames. close() ends every thread of the connection.
class WebRtcPeerConnection final : public PeerConnection, public std::enable_shared_from_this<WebRtcPeerConnection> {
    struct Private {};

public:
    // Null when webrtcbin cannot be started.
    static std::shared_ptr<WebRtcPeerConnection> create(const PeerConnectionConfiguration& configuration);
    WebRtcPeerConnection(Private, const PeerConnectionConfiguration& configuration);
    ~WebRtcPeerConnection() override;
    WebRtcPeerConnection(const WebRtcPeerConnection&) = delete;
    WebRtcPeerConnection& operator=(const WebRtcPeerConnection&) = delete;

    void registerObserver(PeerConnectionObserver* observer) override;
    void unregisterObserver() override;
    void createOffer(DescriptionSuccess onSuccess, Failure onFailure,
                     const std::shared_ptr<MediaConstraints>& constraints) override;
    void createAnswer(DescriptionSuccess onSuccess, Failure onFailure,
                      const std::shared_ptr<MediaConstraints>& constraints) override;
    void setLocalDescription(const std::string& sdp, const std::string& type, Success onSuccess,
                             Failure onFailure) override;
    void setRemoteDescription(const std::string& sdp, const std::string& type, Success onSuccess,
                              Failure onFailure) override;
    void addCandidate(const std::string& sdpMid, std::int32_t sdpMLineIndex, const std::string& candidate) override;
    std::shared_ptr<DataChannel> createDataChannel(const std::string& label, const DataChannelInit& init) override;
    std::shared_ptr<RtpTransceiver> addTrack(const std::shared_ptr<VideoTrack>& track,
                                             const std::vector<std::string>& streamIds) override;
    void getStats(StatsSuccess onSuccess, Failure onFailure) override;
    PeerConnectionState connectionState() override;
    std::int32_t iceConnectionState() override;
    void close() override;

private:
    bool start();
    void createDescription(bool offer, DescriptionSuccess onSuccess, Failure onFailure);
    void applyDescription(bool local, const std::string& sdp, const std::string& type, Success onSuccess,
                          Failure onFailure);
    void notifyObserver(std::function<void(PeerConnectionObserver&)> notification);
    void connectionStateChanged(PeerConnectionState state);

    static void onIceCandidate(GstElement* webrtcbin, guint mediaLine, gchar* candidate, gpointer self);
    static void onDataChannel(GstElement* webrtcbin, GstWebRTCDataChannel* channel, gpointer self);
    static void onPadAdded(GstElement* webrtcbin, GstPad* pad, gpointer self);
    static void onNewTransceiver(GstElement* webrtcbin, GstWebRTCRTPTransceiver* transceiver, gpointer self);
    static void onStateNotify(GObject* webrtcbin, GParamSpec* property, gpointer self);
    static GstBusSyncReply onBusMessage(GstBus* bus, GstMessage* message, gpointer self);

    const PeerConnectionConfiguration configuration_;
    const std::shared_ptr<CallbackQueue> queue_;
    const std::shared_ptr<OperationTracker> operations_;
    GstElement* pipeline_ = nullptr;
    GstElement* webrtcbin_ = nullptr;  // owned by the pipeline
    std::unique_ptr<ConnectionMonitor> monitor_;

    // Serialises the operations that talk to webrtcbin with close(), so that
    // nothing reaches webrtcbin once it is being torn down.
    std::mutex apiMutex_;
    std::atomic<bool> closed_{false};

    std::mutex mutex_;  // what webrtcbin's threads and the worker's share
    std::vector<std::string> localMediaIds_;
    std::string receivedVideoMimeType_;
    CapsRef answerPreferences_;  // from the last remote offer
    std::unique_ptr<VideoSender> sender_;
    std::vector<std::shared_ptr<WebRtcDataChannel>> channels_;

    std::recursive_mutex observerMutex_;  // held while the observer runs; it may call back in
    PeerConnectionObserver* observer_ = nullptr;
};

}  // namespace native_worker::engine::gstreamer
