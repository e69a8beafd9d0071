#pragma once

#include "engine/gstreamer/renderer_set.h"
#include "engine/gstreamer/capture/screen_capturer.h"
#include "media/engine.h"

#include <memory>

namespace native_worker::engine::gstreamer {

// The desktop as a video source: only the capturer behind it matters.
class ScreenVideoSource final : public VideoSource {
public:
    explicit ScreenVideoSource(std::shared_ptr<ScreenCapturer> capturer) : capturer_(std::move(capturer)) {}
    const std::shared_ptr<ScreenCapturer>& capturer() const { return capturer_; }

private:
    std::shared_ptr<ScreenCapturer> capturer_;
};

// A video track: local ones show what their capturer captures, remote ones
// what the connection decodes.
class Track final : public VideoTrack {
public:
    // Remote: frames come through deliver().
    Track() = default;
    // Local: every captured frame reaches the renderers.
    explicit Track(std::shared_ptr<ScreenCapturer> capturer);
    ~Track() override;
    Track(const Track&) = delete;
    Track& operator=(const Track&) = delete;

    void addRenderer(VideoRenderer* renderer) override { renderers_.add(renderer); }
    void removeRenderer(VideoRenderer* renderer) override { renderers_.remove(renderer); }
    void deliver(GstSample* sample) { renderers_.deliver(sample); }
    // Null for a remote track.
    const std::shared_ptr<ScreenCapturer>& capturer() const { return capturer_; }

private:
    RendererSet renderers_;
    std::shared_ptr<ScreenCapturer> capturer_;
    std::uint64_t subscription_ = 0;
};

}  // namespace native_worker::engine::gstreamer
