#pragma once

#include "engine/gstreamer/gst_handles.h"
#include "engine/gstreamer/video_track.h"
#include "media/engine.h"

#include <gst/webrtc/webrtc.h>

#include <memory>

namespace native_worker::engine::gstreamer {

class Receiver final : public RtpReceiver {
public:
    explicit Receiver(std::shared_ptr<Track> track) : track_(std::move(track)) {}
    std::shared_ptr<VideoTrack> videoTrack() override { return track_; }

private:
    std::shared_ptr<Track> track_;
};

// One webrtcbin transceiver. Codec preferences become its codec-preferences
// caps, sized for what it sends.
class Transceiver final : public RtpTransceiver {
public:
    struct FrameSize {
        std::int32_t width = 0;
        std::int32_t height = 0;
    };

    Transceiver(GstWebRTCRTPTransceiver* transceiver, MediaKind kind, std::shared_ptr<Track> receivedTrack,
                FrameSize sentSize);

    MediaKind mediaKind() const override { return kind_; }
    std::shared_ptr<RtpReceiver> receiver() override { return receiver_; }
    void setCodecPreferences(const std::vector<RtpCodecCapability>& codecs) override;

private:
    GstRef<GstWebRTCRTPTransceiver> transceiver_;
    MediaKind kind_;
    std::shared_ptr<Receiver> receiver_;
    FrameSize sentSize_;
};

}  // namespace native_worker::engine::gstreamer
