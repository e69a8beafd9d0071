#include "engine/gstreamer/capture/kept_frame.h"

#include <algorithm>

namespace native_worker::engine::gstreamer {
namespace {

// How far 4:2:0 chroma subsampling reaches beyond a pair of pixels; even,
// so that parts keep the chroma grid.
constexpr std::int32_t reach = 2;

// A frame showing only `part` of `frame` (a mapped I420 frame): its
// corner's samples and the same strides.
GstVideoFrame viewOf(const GstVideoFrame& frame, const platform::Rect& part) {
    GstVideoFrame view = frame;
    view.info.width = part.right - part.left;
    view.info.height = part.bottom - part.top;
    for (guint plane = 0; plane < GST_VIDEO_FRAME_N_PLANES(&frame); ++plane) {
        const std::int32_t shift = plane == 0 ? 0 : 1;
        view.data[plane] =
            static_cast<guint8*>(frame.data[plane]) +
            static_cast<std::ptrdiff_t>(part.top >> shift) * GST_VIDEO_FRAME_PLANE_STRIDE(&frame, plane) +
            (part.left >> shift);
    }
    return view;
}

bool sameSize(const GstVideoInfo& info, std::int32_t width, std::int32_t height) {
    return GST_VIDEO_INFO_WIDTH(&info) == width && GST_VIDEO_INFO_HEIGHT(&info) == height;
}

}  // namespace

KeptFrame::KeptFrame(GstVideoFormat format, std::int32_t width, std::int32_t height, std::uint32_t framesPerSecond)
    : grabbedFormat_(format) {
    gst_video_info_set_format(&info_, GST_VIDEO_FORMAT_I420, static_cast<guint>(width), static_cast<guint>(height));
    GST_VIDEO_INFO_FPS_N(&info_) = static_cast<gint>(framesPerSecond);
    GST_VIDEO_INFO_FPS_D(&info_) = 1;
    caps_.reset(gst_video_info_to_caps(&info_));
    buffer_ = gst_buffer_new_allocate(nullptr, GST_VIDEO_INFO_SIZE(&info_), nullptr);
}

KeptFrame::~KeptFrame() {
    if (converter_) gst_video_converter_free(converter_);
    if (scratch_) gst_buffer_unref(scratch_);
    gst_buffer_unref(buffer_);
}

platform::Rect KeptFrame::grown(const platform::Rect& part, std::int32_t by) const {
    return {std::max(0, part.left - by), std::max(0, part.top - by),
            std::min(GST_VIDEO_INFO_WIDTH(&info_), part.right + by),
            std::min(GST_VIDEO_INFO_HEIGHT(&info_), part.bottom + by)};
}

platform::Rect KeptFrame::grabFor(const platform::Rect& part) const {
    return grown(part, 2 * reach);
}

void KeptFrame::keep(const platform::Rect& part, const platform::Rect& grabbed, const std::uint8_t* pixels,
                     std::int32_t stride) {
    // Chroma around the part depends on it too.
    const platform::Rect changed = grown(part, reach);
    const std::int32_t width = grabbed.right - grabbed.left;
    const std::int32_t height = grabbed.bottom - grabbed.top;
    GstVideoConverter* converter = converterFor(width, height, stride);
    GstBuffer* input = gst_buffer_new_wrapped_full(GST_MEMORY_FLAG_READONLY, const_cast<std::uint8_t*>(pixels),
                                                   GST_VIDEO_INFO_SIZE(&converterInput_), 0,
                                                   GST_VIDEO_INFO_SIZE(&converterInput_), nullptr, nullptr);
    makeWritable(changed);
    GstVideoFrame source, kept;
    if (!gst_video_frame_map(&source, &converterInput_, input, GST_MAP_READ)) return gst_buffer_unref(input);
    gst_video_frame_map(&kept, &info_, buffer_, GST_MAP_WRITE);
    if (changed == grabbed) {
        // Nothing around the part: it is the whole frame, converted in place.
        GstVideoFrame target = viewOf(kept, changed);
        gst_video_converter_frame(converter, &source, &target);
    } else {
        if (!scratch_ || !sameSize(scratchInfo_, width, height)) {
            if (scratch_) gst_buffer_unref(scratch_);
            gst_video_info_set_format(&scratchInfo_, GST_VIDEO_FORMAT_I420, static_cast<guint>(width),
                                      static_cast<guint>(height));
            // Defaults follow the size; the part's must be the frame's.
            scratchInfo_.colorimetry = info_.colorimetry;
            scratchInfo_.chroma_site = info_.chroma_site;
            scratch_ = gst_buffer_new_allocate(nullptr, GST_VIDEO_INFO_SIZE(&scratchInfo_), nullptr);
        }
        GstVideoFrame converted;
        gst_video_frame_map(&converted, &scratchInfo_, scratch_, GST_MAP_READWRITE);
        gst_video_converter_frame(converter, &source, &converted);
        const platform::Rect inner{changed.left - grabbed.left, changed.top - grabbed.top, changed.right - grabbed.left,
                                   changed.bottom - grabbed.top};
        GstVideoFrame from = viewOf(converted, inner);
        GstVideoFrame to = viewOf(kept, changed);
        gst_video_frame_copy(&to, &from);
        gst_video_frame_unmap(&converted);
    }
    gst_video_frame_unmap(&kept);
    gst_video_frame_unmap(&source);
    gst_buffer_unref(input);
}

GstSample* KeptFrame::sample() const {
    return gst_sample_new(buffer_, caps_.get(), nullptr, nullptr);
}

void KeptFrame::makeWritable(const platform::Rect& changed) {
    if (gst_buffer_is_writable(buffer_) && gst_buffer_is_all_memory_writable(buffer_)) return;
    // Subscribers still hold the frame: this one goes on in a copy, or in a
    // new buffer when all of it changes.
    const bool whole = sameSize(info_, changed.right - changed.left, changed.bottom - changed.top);
    GstBuffer* next =
        whole ? gst_buffer_new_allocate(nullptr, GST_VIDEO_INFO_SIZE(&info_), nullptr) : gst_buffer_copy_deep(buffer_);
    gst_buffer_unref(buffer_);
    buffer_ = next;
}

GstVideoConverter* KeptFrame::converterFor(std::int32_t width, std::int32_t height, std::int32_t stride) {
    if (converter_ && sameSize(converterInput_, width, height) &&
        GST_VIDEO_INFO_PLANE_STRIDE(&converterInput_, 0) == stride)
        return converter_;
    if (converter_) gst_video_converter_free(converter_);
    gst_video_info_set_format(&converterInput_, grabbedFormat_, static_cast<guint>(width), static_cast<guint>(height));
    GST_VIDEO_INFO_PLANE_STRIDE(&converterInput_, 0) = stride;
    GST_VIDEO_INFO_SIZE(&converterInput_) = static_cast<gsize>(stride) * static_cast<gsize>(height);
    GstVideoInfo output = info_;
    output.width = width;
    output.height = height;
    output.fps_n = converterInput_.fps_n;
    output.fps_d = converterInput_.fps_d;
    converter_ = gst_video_converter_new(&converterInput_, &output, nullptr);
    return converter_;
}

}  // namespace native_worker::engine::gstreamer
