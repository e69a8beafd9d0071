#include "media/engine_session.h"

#include "base/error_codes.h"
#include "base/protocol_error.h"
#include "media/media_settings.h"
#include "platform/sockets.h"

namespace native_worker {
namespace {

template <typename T>
T require(T object, const char* code) {
    if (!object) throw ProtocolError(code);
    return object;
}

}  // namespace

void EngineSession::start() {
    socketsStarted_ = platform::startSockets();
    if (!socketsStarted_) throw ProtocolError(codes::nativeInitializeFailed);
    engineInitialized_ = engine_.initialize();
    if (!engineInitialized_) throw ProtocolError(codes::nativeInitializeFailed);
    factory_ = require(engine_.createPeerConnectionFactory(), codes::nativeInitializeFailed);
    factoryInitialized_ = factory_->initialize();
    if (!factoryInitialized_) throw ProtocolError(codes::nativeInitializeFailed);
    constraints_ = engine_.createMediaConstraints();
}

void EngineSession::connect(Peer& peer, const engine::PeerConnectionConfiguration& configuration) {
    peer.attachConnection(
        require(factory_->createPeerConnection(configuration, constraints_), codes::nativeInitializeFailed));
    peers_.push_back(&peer);
}

const HostMedia& EngineSession::addHostMedia(Peer& peer, FrameCounter& capturedCounter,
                                             engine::DesktopCapturerObserver* observer) {
    host_ = std::make_unique<HostMedia>();
    HostMedia& host = *host_;
    const auto device = require(factory_->desktopDevice(), codes::captureUnavailable);
    host.sources = require(device->screenSources(), codes::captureUnavailable);
    if (host.sources->refresh(false, false) < 1) throw ProtocolError(codes::captureUnavailable);
    host.source = require(host.sources->source(0), codes::captureUnavailable);
    host.capturer = require(device->createCapturer(host.source, false), codes::captureUnavailable);
    if (observer) {
        host.capturer->registerObserver(observer);
        observing_ = true;
    }
    host.videoSource =
        require(factory_->createDesktopSource(host.capturer, "desktop", constraints_), codes::captureUnavailable);
    host.videoTrack = require(factory_->createVideoTrack(host.videoSource, "desktop-video"), codes::captureUnavailable);
    host.videoTrack->addRenderer(&capturedCounter);
    host.capturedCounter = &capturedCounter;

    const auto transceiver = peer.connection()->addTrack(host.videoTrack, {});
    const auto h264 = h264SenderCodecs(*factory_);
    if (!transceiver || h264.empty()) throw ProtocolError(codes::h264Unavailable);
    transceiver->setCodecPreferences(h264);

    peer.attachChannel(peer.connection()->createDataChannel("control", controlChannelOptions()));
    peer.attachChannel(peer.connection()->createDataChannel("motion", motionChannelOptions()));
    return host;
}

void EngineSession::startCapture(std::uint32_t framesPerSecond) {
    if (host_->capturer->start(framesPerSecond) != engine::DesktopCapturer::StartResult::running)
        throw ProtocolError(codes::captureUnavailable);
}

void EngineSession::close() {
    if (host_ && host_->capturer) {
        if (observing_) host_->capturer->unregisterObserver();
        host_->capturer->stop();
    }
    if (host_ && host_->videoTrack && host_->capturedCounter) host_->videoTrack->removeRenderer(host_->capturedCounter);
    for (Peer* peer : peers_) peer->closePeer(factory_.get());
    peers_.clear();
    host_.reset();
    observing_ = false;
    constraints_.reset();
    if (factoryInitialized_) {
        factory_->terminate();
        factoryInitialized_ = false;
    }
    factory_.reset();
    if (engineInitialized_) {
        engine_.terminate();
        engineInitialized_ = false;
    }
    if (socketsStarted_) {
        platform::stopSockets();
        socketsStarted_ = false;
    }
}

}  // namespace native_worker
