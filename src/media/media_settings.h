#pragma once

#include "media/engine.h"

#include <vector>

namespace native_worker {

// The peer-connection settings both modes share: no audio is offered, and the
// screencast encoder keeps a bitrate floor.
engine::PeerConnectionConfiguration workerConfiguration();

// "control": ordered and reliable. "motion": unordered, never retransmitted.
engine::DataChannelInit controlChannelOptions();
engine::DataChannelInit motionChannelOptions();

// The factory's H264 sender codecs, in the factory's order.
std::vector<engine::RtpCodecCapability> h264SenderCodecs(engine::PeerConnectionFactory& factory);

}  // namespace native_worker
