#include "engine/gstreamer/renderer_set.h"

#include <gst/video/video.h>

#include <algorithm>

namespace native_worker::engine::gstreamer {

void RendererSet::add(VideoRenderer* renderer) {
    if (!renderer) return;
    std::lock_guard lock(mutex_);
    if (std::find(renderers_.begin(), renderers_.end(), renderer) == renderers_.end()) renderers_.push_back(renderer);
}

void RendererSet::remove(VideoRenderer* renderer) {
    std::lock_guard lock(mutex_);
    std::erase(renderers_, renderer);
}

void RendererSet::deliver(GstSample* sample) {
    std::lock_guard lock(mutex_);
    if (renderers_.empty()) return;
    GstVideoInfo info;
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    GstCaps* caps = gst_sample_get_caps(sample);
    if (!buffer || !caps || !gst_video_info_from_caps(&info, caps) ||
        GST_VIDEO_INFO_FORMAT(&info) != GST_VIDEO_FORMAT_I420)
        return;
    GstVideoFrame mapped;
    if (!gst_video_frame_map(&mapped, &info, buffer, GST_MAP_READ)) return;
    VideoFrame frame;
    frame.width = GST_VIDEO_FRAME_WIDTH(&mapped);
    frame.height = GST_VIDEO_FRAME_HEIGHT(&mapped);
    frame.dataY = static_cast<const std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&mapped, 0));
    frame.dataU = static_cast<const std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&mapped, 1));
    frame.dataV = static_cast<const std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&mapped, 2));
    frame.strideY = GST_VIDEO_FRAME_PLANE_STRIDE(&mapped, 0);
    frame.strideU = GST_VIDEO_FRAME_PLANE_STRIDE(&mapped, 1);
    frame.strideV = GST_VIDEO_FRAME_PLANE_STRIDE(&mapped, 2);
    for (VideoRenderer* renderer : renderers_) {
        try {
            renderer->onFrame(&frame);
        } catch (...) {
            // A renderer's failure must not reach the streaming thread.
        }
    }
    gst_video_frame_unmap(&mapped);
}

}  // namespace native_worker::engine::gstreamer
