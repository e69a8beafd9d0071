#pragma once

#include "engine/gstreamer/video_track.h"

#include <gst/gst.h>

#include <memory>

namespace native_worker::engine::gstreamer {

// Decodes the H264 arriving on one webrtcbin source pad (rtph264depay,
// h264parse, avdec_h264, I420 appsink) into frames for a new remote track.
// Anything else is discarded, so webrtcbin never meets an unlinked pad;
// the track is then null.
std::shared_ptr<Track> receiveVideo(GstElement* pipeline, GstPad* pad);

// Whether the pad carries video, by its RTP caps.
bool carriesVideo(GstPad* pad);

}  // namespace native_worker::engine::gstreamer
