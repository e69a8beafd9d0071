#pragma once

#include <gst/gst.h>

#include <cstdint>

namespace native_worker::engine::gstreamer {

// The sending branch's H264 encoder: of x264 and OpenH264, whichever the
// media stack has and ranks higher (x264 where both are; the Windows stack
// leaves out GPL code and has OpenH264 only; GST_PLUGIN_FEATURE_RANK can
// choose). Either is set for a desktop: no delay, a key frame when asked for
// and unasked only rarely, no frame larger than `frameSizeBoundMs` of the
// rate. Null when there is neither.
GstElement* makeH264Encoder(std::uint32_t frameSizeBoundMs);
bool hasH264Encoder();
// Changes the encoder's target while it runs.
void setEncoderBitrate(GstElement* encoder, std::uint32_t kbps);
// Changes the frame-size bound while it runs, in milliseconds of the target
// (x264 only: OpenH264 has none).
void setEncoderFrameSizeBound(GstElement* encoder, std::uint32_t milliseconds);

}  // namespace native_worker::engine::gstreamer
