#pragma once

#include "engine/gstreamer/gst_handles.h"
#include "engine/gstreamer/capture/screen_capturer.h"
#include "engine/gstreamer/send_rate_adapter.h"

#include <gst/gst.h>
#include <gst/webrtc/webrtc.h>

#include <atomic>
#include <cstdint>
#include <memory>

namespace native_worker::engine::gstreamer {

// The sending half of a connection's video: captured frames enter an appsrc,
// a leaky queue of one keeps only the newest, the H264 encoder makes it constrained
// baseline at the rate congestion control sets, rtph264pay packs it, and the
// packets leave for a sink pad of webrtcbin at the pacing rate.
class VideoSender {
public:
    // Null when an element is missing or the branch cannot be linked.
    static std::unique_ptr<VideoSender> create(GstElement* pipeline, GstElement* webrtcbin,
                                               std::shared_ptr<ScreenCapturer> capturer,
                                               std::int32_t minimumBitrateKbps);
    ~VideoSender();
    VideoSender(const VideoSender&) = delete;
    VideoSender& operator=(const VideoSender&) = delete;

    GstWebRTCRTPTransceiver* transceiver() const { return transceiver_.get(); }
    const std::shared_ptr<ScreenCapturer>& capturer() const { return capturer_; }
    // Frames are only encoded while the connection is up, and the first one
    // after it comes up is a key frame, sent at once.
    void setFlowing(bool flowing);
    std::uint64_t framesEncoded() const { return framesEncoded_->load(); }
    // No more frames are taken from the capturer.
    void detach();

private:
    VideoSender(std::shared_ptr<ScreenCapturer> capturer, GstElement* source);
    void push(GstSample* sample);
    // The capturer's picture goes out again at once, as a key frame: a quiet
    // screen sends nothing the encoder could turn into one otherwise.
    void sendKeyFrame();

    std::shared_ptr<ScreenCapturer> capturer_;
    GstRef<GstElement> source_;
    GstRef<GstWebRTCRTPTransceiver> transceiver_;
    CapsRef caps_;  // only touched on the capture thread
    std::atomic<bool> flowing_{false};
    std::atomic<bool> keyFrameWanted_{false};
    std::shared_ptr<std::atomic<std::uint64_t>> framesEncoded_ = std::make_shared<std::atomic<std::uint64_t>>(0);
    std::unique_ptr<SendRateAdapter> rateAdapter_;
    std::uint64_t subscription_ = 0;
};

}  // namespace native_worker::engine::gstreamer
