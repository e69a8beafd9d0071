#include "engine/gstreamer/transceiver.h"

#include "engine/gstreamer/codec_capabilities.h"

namespace native_worker::engine::gstreamer {

Transceiver::Transceiver(GstWebRTCRTPTransceiver* transceiver, MediaKind kind, std::shared_ptr<Track> receivedTrack,
                         FrameSize sentSize)
    : transceiver_(takeRef(transceiver)),
      kind_(kind),
      receiver_(std::make_shared<Receiver>(std::move(receivedTrack))),
      sentSize_(sentSize) {}

void Transceiver::setCodecPreferences(const std::vector<RtpCodecCapability>& codecs) {
    const CapsRef caps = codecPreferenceCaps(codecs, sentSize_.width, sentSize_.height);
    if (caps) g_object_set(transceiver_.get(), "codec-preferences", caps.get(), nullptr);
}

}  // namespace native_worker::engine::gstreamer
