#include "media/media_settings.h"

namespace native_worker {

engine::PeerConnectionConfiguration workerConfiguration() {
    engine::PeerConnectionConfiguration configuration;
    configuration.offerToReceiveAudio = false;
    configuration.screencastMinBitrateKbps = 32;
    return configuration;
}

engine::DataChannelInit controlChannelOptions() {
    return {};
}

engine::DataChannelInit motionChannelOptions() {
    engine::DataChannelInit init;
    init.ordered = false;
    init.reliable = false;
    init.maxRetransmits = 0;
    init.id = 1;
    return init;
}

std::vector<engine::RtpCodecCapability> h264SenderCodecs(engine::PeerConnectionFactory& factory) {
    std::vector<engine::RtpCodecCapability> h264;
    for (auto& codec : factory.senderCapabilities(engine::MediaKind::video))
        if (codec.mimeType == "video/H264") h264.push_back(std::move(codec));
    return h264;
}

}  // namespace native_worker
