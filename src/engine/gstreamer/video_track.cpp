#include "engine/gstreamer/video_track.h"

namespace native_worker::engine::gstreamer {

Track::Track(std::shared_ptr<ScreenCapturer> capturer) : capturer_(std::move(capturer)) {
    subscription_ = capturer_->subscribe([this](GstSample* sample) { renderers_.deliver(sample); });
}

Track::~Track() {
    if (capturer_) capturer_->unsubscribe(subscription_);
}

}  // namespace native_worker::engine::gstreamer
