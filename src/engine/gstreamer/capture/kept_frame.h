#pragma once

#include "engine/gstreamer/gst_handles.h"
#include "platform/display_services.h"

#include <gst/gst.h>
#include <gst/video/video.h>

#include <cstdint>

namespace native_worker::engine::gstreamer {

// The captured picture as the encoders take it (I420), kept between grabs so
// that a grab converts only what changed. A part is taken in with the chroma
// around it that depends on it, converted from pixels around that which the
// chroma filter reads, so the picture equals a conversion of the whole screen.
class KeptFrame {
public:
    // `format`: the grabbed pixels'; the frame is width x height, both even.
    KeptFrame(GstVideoFormat format, std::int32_t width, std::int32_t height, std::uint32_t framesPerSecond);
    ~KeptFrame();
    KeptFrame(const KeptFrame&) = delete;
    KeptFrame& operator=(const KeptFrame&) = delete;

    // What to grab so that the changed `part` can be taken in: more than the part, inside the frame.
    platform::Rect grabFor(const platform::Rect& part) const;
    // Takes in `part` from the pixels of `grabbed` (= grabFor(part)), rows `stride` bytes apart.
    void keep(const platform::Rect& part, const platform::Rect& grabbed, const std::uint8_t* pixels,
              std::int32_t stride);
    // The frame for the subscribers; what they hold stays as it is when the frame changes.
    GstSample* sample() const;

private:
    platform::Rect grown(const platform::Rect& part, std::int32_t by) const;
    void makeWritable(const platform::Rect& changed);
    GstVideoConverter* converterFor(std::int32_t width, std::int32_t height, std::int32_t stride);

    GstVideoInfo info_;
    const GstVideoFormat grabbedFormat_;
    CapsRef caps_;
    GstBuffer* buffer_ = nullptr;
    // The last part's: parts of one size follow each other.
    GstVideoConverter* converter_ = nullptr;
    GstVideoInfo converterInput_{};
    GstBuffer* scratch_ = nullptr;
    GstVideoInfo scratchInfo_{};
};

}  // namespace native_worker::engine::gstreamer
