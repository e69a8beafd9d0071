#pragma once

#include "engine/gstreamer/peer_connection.h"
#include "engine/gstreamer/capture/screen_capturer.h"
#include "media/engine.h"
#include "platform/display_services.h"

#include <memory>
#include <mutex>
#include <vector>

namespace native_worker::engine::gstreamer {

// Makes connections, capture and tracks, and remembers the connections and
// capturers it made so that terminate() can end them all.
class WebRtcPeerConnectionFactory final : public PeerConnectionFactory {
public:
    explicit WebRtcPeerConnectionFactory(platform::DisplayServices& displays) : displays_(displays) {}
    ~WebRtcPeerConnectionFactory() override;

    bool initialize() override { return true; }
    bool terminate() override;
    std::shared_ptr<PeerConnection> createPeerConnection(const PeerConnectionConfiguration& configuration,
                                                         const std::shared_ptr<MediaConstraints>& constraints) override;
    void deletePeerConnection(const std::shared_ptr<PeerConnection>& peerConnection) override;
    std::shared_ptr<DesktopDevice> desktopDevice() override;
    std::shared_ptr<VideoSource> createDesktopSource(const std::shared_ptr<DesktopCapturer>& capturer,
                                                     const std::string& name,
                                                     const std::shared_ptr<MediaConstraints>& constraints) override;
    std::shared_ptr<VideoTrack> createVideoTrack(const std::shared_ptr<VideoSource>& source,
                                                 const std::string& trackId) override;
    std::vector<RtpCodecCapability> senderCapabilities(MediaKind kind) override;

private:
    // Shared with the desktop devices handed out, which may outlive the factory.
    struct Made {
        std::mutex mutex;
        std::vector<std::weak_ptr<WebRtcPeerConnection>> connections;
        std::vector<std::weak_ptr<ScreenCapturer>> capturers;
    };

    platform::DisplayServices& displays_;
    const std::shared_ptr<Made> made_ = std::make_shared<Made>();
};

}  // namespace native_worker::engine::gstreamer
