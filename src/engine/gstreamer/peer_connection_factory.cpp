#include "engine/gstreamer/peer_connection_factory.h"

#include "engine/gstreamer/codec_capabilities.h"
#include "engine/gstreamer/desktop_device.h"
#include "engine/gstreamer/video_track.h"

namespace native_worker::engine::gstreamer {

WebRtcPeerConnectionFactory::~WebRtcPeerConnectionFactory() {
    terminate();
}

bool WebRtcPeerConnectionFactory::terminate() {
    std::vector<std::weak_ptr<WebRtcPeerConnection>> connections;
    std::vector<std::weak_ptr<ScreenCapturer>> capturers;
    {
        std::lock_guard lock(made_->mutex);
        connections.swap(made_->connections);
        capturers.swap(made_->capturers);
    }
    for (const auto& capturer : capturers)
        if (const auto alive = capturer.lock()) alive->stop();
    for (const auto& connection : connections)
        if (const auto alive = connection.lock()) alive->close();
    return true;
}

std::shared_ptr<PeerConnection> WebRtcPeerConnectionFactory::createPeerConnection(
    const PeerConnectionConfiguration& configuration, const std::shared_ptr<MediaConstraints>&) {
    auto connection = WebRtcPeerConnection::create(configuration);
    if (!connection) return nullptr;
    std::lock_guard lock(made_->mutex);
    std::erase_if(made_->connections, [](const auto& known) { return known.expired(); });
    made_->connections.push_back(connection);
    return connection;
}

void WebRtcPeerConnectionFactory::deletePeerConnection(const std::shared_ptr<PeerConnection>& peerConnection) {
    if (peerConnection) peerConnection->close();
}

std::shared_ptr<DesktopDevice> WebRtcPeerConnectionFactory::desktopDevice() {
    return std::make_shared<ScreenDevice>(displays_, [made = made_](const std::shared_ptr<ScreenCapturer>& capturer) {
        std::lock_guard lock(made->mutex);
        std::erase_if(made->capturers, [](const auto& known) { return known.expired(); });
        made->capturers.push_back(capturer);
    });
}

std::shared_ptr<VideoSource> WebRtcPeerConnectionFactory::createDesktopSource(
    const std::shared_ptr<DesktopCapturer>& capturer, const std::string&, const std::shared_ptr<MediaConstraints>&) {
    auto screen = std::dynamic_pointer_cast<ScreenCapturer>(capturer);
    if (!screen) return nullptr;
    return std::make_shared<ScreenVideoSource>(std::move(screen));
}

std::shared_ptr<VideoTrack> WebRtcPeerConnectionFactory::createVideoTrack(const std::shared_ptr<VideoSource>& source,
                                                                          const std::string&) {
    const auto screen = std::dynamic_pointer_cast<ScreenVideoSource>(source);
    if (!screen) return nullptr;
    return std::make_shared<Track>(screen->capturer());
}

std::vector<RtpCodecCapability> WebRtcPeerConnectionFactory::senderCapabilities(MediaKind kind) {
    return senderCodecs(kind);
}

}  // namespace native_worker::engine::gstreamer
