#pragma once

#include "media/engine.h"
#include "media/frame_counter.h"
#include "media/peer.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace native_worker {

// The host's screen on a peer: its capturer, the video track it feeds (sent
// as H264 only) and the two data channels. Owned by the engine session.
struct HostMedia {
    std::shared_ptr<engine::SourceList> sources;
    std::shared_ptr<engine::MediaSource> source;
    std::shared_ptr<engine::DesktopCapturer> capturer;
    std::shared_ptr<engine::VideoSource> videoSource;
    std::shared_ptr<engine::VideoTrack> videoTrack;
    FrameCounter* capturedCounter = nullptr;
};

// One use of the engine, from start-up to teardown: sockets, the library, its
// factory and constraints, the peers connected through it and the host's
// media. Serve mode and the self-test both run on it, so both start and end
// the engine in the same order. Every failure throws ProtocolError with the
// code serve mode reports for it.
class EngineSession {
public:
    explicit EngineSession(engine::Engine& engine) : engine_(engine) {}
    EngineSession(const EngineSession&) = delete;
    EngineSession& operator=(const EngineSession&) = delete;
    ~EngineSession() { close(); }

    // Sockets, the library, its factory and the constraints; "native_initialize_failed".
    void start();
    // Gives the peer its connection; the engine session closes it. "native_initialize_failed".
    void connect(Peer& peer, const engine::PeerConnectionConfiguration& configuration);
    // Captures the first screen into a track sent on the peer as H264 only,
    // counted by capturedCounter, and opens "control" and "motion". Capture
    // starts with startCapture. "capture_unavailable" or "h264_unavailable".
    const HostMedia& addHostMedia(Peer& peer, FrameCounter& capturedCounter, engine::DesktopCapturerObserver* observer);
    // "capture_unavailable" when the capturer does not run.
    void startCapture(std::uint32_t framesPerSecond);

    const std::shared_ptr<engine::MediaConstraints>& constraints() const { return constraints_; }
    bool capturing() const { return host_ && host_->capturer->isRunning(); }

    // Stops the capture, closes every peer, releases the media, then the
    // factory, the library and the sockets. Once; later calls do nothing.
    void close();

private:
    engine::Engine& engine_;
    bool socketsStarted_ = false;
    bool engineInitialized_ = false;
    bool factoryInitialized_ = false;
    std::shared_ptr<engine::PeerConnectionFactory> factory_;
    std::shared_ptr<engine::MediaConstraints> constraints_;
    std::vector<Peer*> peers_;
    std::unique_ptr<HostMedia> host_;
    bool observing_ = false;
};

}  // namespace native_worker
