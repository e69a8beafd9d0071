#pragma once

// The media engine as the worker sees it: factory, peer connections, data
// channels, desktop capture, tracks, capabilities and statistics. Everything
// the worker does with WebRTC goes through these classes, so the same logic
// runs over the real engine and over the scripted one of the tests.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace native_worker::engine {

enum class MediaKind : std::int32_t { audio = 0, video = 1 };

// Connection states 0..5; an engine may report other values, which the
// worker treats as a failure.
using PeerConnectionState = std::int32_t;
inline constexpr PeerConnectionState stateNew = 0;
inline constexpr PeerConnectionState stateConnecting = 1;
inline constexpr PeerConnectionState stateConnected = 2;
inline constexpr PeerConnectionState stateDisconnected = 3;
inline constexpr PeerConnectionState stateFailed = 4;
inline constexpr PeerConnectionState stateClosed = 5;

// Data-channel state code that means open; every other code means not open.
inline constexpr std::int32_t dataChannelOpen = 1;

struct IceServer {
    std::string url;
    std::string username;
    std::string credential;
};

enum class TcpCandidatePolicy : std::int32_t { enabled = 0, disabled = 1 };

struct PeerConnectionConfiguration {
    static constexpr std::size_t iceServerSlots = 8;
    std::array<IceServer, iceServerSlots> iceServers;  // unused slots stay empty
    TcpCandidatePolicy tcpCandidatePolicy = TcpCandidatePolicy::enabled;
    bool offerToReceiveAudio = true;
    bool offerToReceiveVideo = true;
    // Floor of the screencast encoder's bitrate in kbit/s; negative leaves the engine's own.
    std::int32_t screencastMinBitrateKbps = -1;
};

struct DataChannelInit {
    bool ordered = true;
    bool reliable = true;
    std::int32_t maxRetransmitTimeMs = -1;  // -1: not set
    std::int32_t maxRetransmits = -1;       // -1: not set
    std::string protocol = "sctp";
    bool negotiated = false;
    std::int32_t id = 0;
};

struct RtpCodecCapability {
    std::string mimeType;
    std::int32_t clockRate = 0;
    std::string sdpFmtpLine;
};

struct StatsMember {
    std::string name;
    bool defined = false;
    std::string text;
    std::uint32_t uint32Value = 0;
};

struct StatsReport {
    std::string id;
    std::string type;
    std::vector<StatsMember> members;
};

// A frame as its three I420 planes.
struct VideoFrame {
    std::int32_t width = 0;
    std::int32_t height = 0;
    const std::uint8_t* dataY = nullptr;
    const std::uint8_t* dataU = nullptr;
    const std::uint8_t* dataV = nullptr;
    std::int32_t strideY = 0;
    std::int32_t strideU = 0;
    std::int32_t strideV = 0;
};

class IceCandidate {
public:
    virtual ~IceCandidate() = default;
    virtual std::string sdpMid() const = 0;
    virtual std::int32_t sdpMLineIndex() const = 0;
    virtual std::string candidate() const = 0;
};

class MediaConstraints {
public:
    virtual ~MediaConstraints() = default;
};

// --- observers, called on engine threads ---
//
// Teardown destroys an observer or renderer right after detaching it, so
// detaching is a barrier: unregisterObserver() and removeRenderer() return only
// once a callback already running on it has returned, and none starts after
// they return. They wait for that callback, so they must not be called from
// inside it.

class VideoRenderer {
public:
    virtual ~VideoRenderer() = default;
    // A null frame may be delivered and must be tolerated.
    virtual void onFrame(const VideoFrame* frame) = 0;
};

class DataChannelObserver {
public:
    virtual ~DataChannelObserver() = default;
    virtual void onStateChange(std::int32_t state) = 0;
    virtual void onMessage(const char* data, std::int32_t length, bool binary) = 0;
};

class DataChannel;
class RtpTransceiver;

class PeerConnectionObserver {
public:
    virtual ~PeerConnectionObserver() = default;
    virtual void onConnectionState(PeerConnectionState state) = 0;
    virtual void onIceCandidate(const std::shared_ptr<IceCandidate>& candidate) = 0;
    virtual void onDataChannel(const std::shared_ptr<DataChannel>& channel) = 0;
    virtual void onTrack(const std::shared_ptr<RtpTransceiver>& transceiver) = 0;
};

// Started and failed arrive on the capture's thread; stopped, and the failure
// of a start() that could not begin, may arrive on the thread calling stop()
// or start().
class DesktopCapturerObserver {
public:
    virtual ~DesktopCapturerObserver() = default;
    virtual void onCaptureStarted() = 0;
    virtual void onCapturePaused() = 0;
    virtual void onCaptureStopped() = 0;
    virtual void onCaptureFailed() = 0;
};

// --- engine objects ---

class DataChannel {
public:
    virtual ~DataChannel() = default;
    virtual void registerObserver(DataChannelObserver* observer) = 0;
    virtual void unregisterObserver() = 0;
    virtual void send(std::string_view data, bool binary) = 0;
    virtual void close() = 0;
    virtual std::string label() const = 0;
};

class VideoTrack {
public:
    virtual ~VideoTrack() = default;
    virtual void addRenderer(VideoRenderer* renderer) = 0;
    virtual void removeRenderer(VideoRenderer* renderer) = 0;
};

class RtpReceiver {
public:
    virtual ~RtpReceiver() = default;
    // The received track as a video track; null when it is not one.
    virtual std::shared_ptr<VideoTrack> videoTrack() = 0;
};

class RtpTransceiver {
public:
    virtual ~RtpTransceiver() = default;
    virtual MediaKind mediaKind() const = 0;
    virtual std::shared_ptr<RtpReceiver> receiver() = 0;
    virtual void setCodecPreferences(const std::vector<RtpCodecCapability>& codecs) = 0;
};

class VideoSource {
public:
    virtual ~VideoSource() = default;
};

class MediaSource {
public:
    virtual ~MediaSource() = default;
    virtual std::string id() const = 0;
};

class SourceList {
public:
    virtual ~SourceList() = default;
    // Returns the number of sources found, or a negative value on failure.
    virtual std::int32_t refresh(bool forceReload, bool getThumbnail) = 0;
    virtual std::int32_t count() const = 0;
    virtual std::shared_ptr<MediaSource> source(std::int32_t index) = 0;
};

// The highest capture rate a host may ask for, in frames per second.
inline constexpr std::int32_t highestFramesPerSecond = 60;

class DesktopCapturer {
public:
    enum class StartResult : std::int32_t { running = 0, failed = 1 };
    virtual ~DesktopCapturer() = default;
    virtual void registerObserver(DesktopCapturerObserver* observer) = 0;
    virtual void unregisterObserver() = 0;
    virtual StartResult start(std::uint32_t framesPerSecond) = 0;
    virtual void stop() = 0;
    virtual bool isRunning() const = 0;
};

class DesktopDevice {
public:
    virtual ~DesktopDevice() = default;
    virtual std::shared_ptr<SourceList> screenSources() = 0;
    virtual std::shared_ptr<DesktopCapturer> createCapturer(const std::shared_ptr<MediaSource>& source,
                                                            bool showCursor) = 0;
};

using DescriptionSuccess = std::function<void(std::string sdp, std::string type)>;
using Success = std::function<void()>;
using Failure = std::function<void(std::string error)>;
using StatsSuccess = std::function<void(std::vector<StatsReport> reports)>;

// Each asynchronous operation calls exactly one of its two callbacks, once:
// one pending at close() fails then. It runs on an engine thread, except that
// one started on a closed connection may fail on the calling thread before the
// call returns. Unlike an observer's callbacks, an operation's may run after
// close() and unregisterObserver() returned (an engine may be answering just
// then), so they hold only state shared with the caller, never an observer;
// after Engine::terminate() returned none runs.
class PeerConnection {
public:
    virtual ~PeerConnection() = default;
    virtual void registerObserver(PeerConnectionObserver* observer) = 0;
    virtual void unregisterObserver() = 0;
    virtual void createOffer(DescriptionSuccess onSuccess, Failure onFailure,
                             const std::shared_ptr<MediaConstraints>& constraints) = 0;
    virtual void createAnswer(DescriptionSuccess onSuccess, Failure onFailure,
                              const std::shared_ptr<MediaConstraints>& constraints) = 0;
    virtual void setLocalDescription(const std::string& sdp, const std::string& type, Success onSuccess,
                                     Failure onFailure) = 0;
    virtual void setRemoteDescription(const std::string& sdp, const std::string& type, Success onSuccess,
                                      Failure onFailure) = 0;
    virtual void addCandidate(const std::string& sdpMid, std::int32_t sdpMLineIndex, const std::string& candidate) = 0;
    virtual std::shared_ptr<DataChannel> createDataChannel(const std::string& label, const DataChannelInit& init) = 0;
    // Returns the transceiver that carries the track, or null.
    virtual std::shared_ptr<RtpTransceiver> addTrack(const std::shared_ptr<VideoTrack>& track,
                                                     const std::vector<std::string>& streamIds) = 0;
    virtual void getStats(StatsSuccess onSuccess, Failure onFailure) = 0;
    virtual PeerConnectionState connectionState() = 0;
    virtual std::int32_t iceConnectionState() = 0;
    // Ends the connection's media and channels; its observer may still hear
    // from it until unregisterObserver() returns.
    virtual void close() = 0;
};

class PeerConnectionFactory {
public:
    virtual ~PeerConnectionFactory() = default;
    virtual bool initialize() = 0;
    virtual bool terminate() = 0;
    virtual std::shared_ptr<PeerConnection> createPeerConnection(
        const PeerConnectionConfiguration& configuration, const std::shared_ptr<MediaConstraints>& constraints) = 0;
    virtual void deletePeerConnection(const std::shared_ptr<PeerConnection>& peerConnection) = 0;
    virtual std::shared_ptr<DesktopDevice> desktopDevice() = 0;
    virtual std::shared_ptr<VideoSource> createDesktopSource(const std::shared_ptr<DesktopCapturer>& capturer,
                                                             const std::string& name,
                                                             const std::shared_ptr<MediaConstraints>& constraints) = 0;
    virtual std::shared_ptr<VideoTrack> createVideoTrack(const std::shared_ptr<VideoSource>& source,
                                                         const std::string& trackId) = 0;
    virtual std::vector<RtpCodecCapability> senderCapabilities(MediaKind kind) = 0;
};

// The library itself.
class Engine {
public:
    virtual ~Engine() = default;
    virtual bool initialize() = 0;
    // Once it returns, every connection having been closed and the factory
    // terminated, no engine thread calls the worker any more: no observer,
    // renderer or operation callback.
    virtual void terminate() = 0;
    virtual std::shared_ptr<PeerConnectionFactory> createPeerConnectionFactory() = 0;
    virtual std::shared_ptr<MediaConstraints> createMediaConstraints() = 0;
    // Null when the engine cannot parse the candidate.
    virtual std::shared_ptr<IceCandidate> createIceCandidate(const std::string& candidate, const std::string& sdpMid,
                                                             std::int32_t sdpMLineIndex) = 0;
};

}  // namespace native_worker::engine
