#pragma once

#include "media/engine.h"

#include <gst/gst.h>

#include <mutex>
#include <vector>

namespace native_worker::engine::gstreamer {

// The renderers of one video track. Frames arrive on a streaming thread as
// I420 samples and are handed to every renderer as plane pointers valid for
// the call only.
class RendererSet {
public:
    void add(VideoRenderer* renderer);
    // Returns once no delivery to the renderer is in progress, so the caller
    // may destroy it.
    void remove(VideoRenderer* renderer);
    void deliver(GstSample* sample);

private:
    std::mutex mutex_;
    std::vector<VideoRenderer*> renderers_;
};

}  // namespace native_worker::engine::gstreamer
