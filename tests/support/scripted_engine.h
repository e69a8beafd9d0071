#pragma once

// An engine whose every answer a test decides: succeed, fail, never answer or
// answer late; it emits candidates, states, channels, frames and statistics,
// and records every call so tests can check what the worker asked for.

#include "engine_thread.h"
#include "media/engine.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace native_worker::scripted {

enum class Reply { succeed, fail, never, late };

struct Script {
    bool sockets = true;
    bool initialize = true;
    bool factory = true;
    bool factoryInitialize = true;
    bool peerConnection = true;

    Reply probe = Reply::succeed;        // the first offer a peer connection creates
    Reply createOffer = Reply::succeed;  // every later one
    Reply createAnswer = Reply::succeed;
    Reply setLocal = Reply::succeed;
    Reply setRemote = Reply::succeed;
    Reply stats = Reply::succeed;
    std::chrono::milliseconds lateDelay{200};
    // Replaces the created description text when set (for empty or oversized ones).
    std::optional<std::string> descriptionOverride;

    std::vector<std::string> screenIds{"1"};
    std::optional<std::int32_t> refreshResult;  // default: the number of screens
    bool capturer = true;
    bool videoSource = true;
    bool videoTrack = true;
    bool transceiver = true;
    bool dataChannels = true;
    engine::DesktopCapturer::StartResult captureStart = engine::DesktopCapturer::StartResult::running;
    std::vector<engine::RtpCodecCapability> senderCodecs{
        {"video/H264", 90000, "level-asymmetry-allowed=1;packetization-mode=1;profile-level-id=42e01f"},
        {"video/VP8", 90000, ""},
        {"video/rtx", 90000, ""}};

    // The worker works on the system's own displays, input and sink.
    bool systemDesktop = false;
    // The controller, once told its input is admitted, holds Shift, Ctrl, A
    // and the left button down and types a text.
    bool holdInput = false;

    int localCandidatesPerDescription = 2;
    // Connection states reported once the exchange completes, in order.
    std::vector<engine::PeerConnectionState> statesWhenConnected{engine::stateConnecting, engine::stateConnected};
    std::uint32_t framesWhenConnected = 3;
    std::uint32_t framesEncoded = 42;
    bool parseCandidates = true;  // false: every candidate text is refused
};

// KELVARN_SCRIPT syntax for the scripted worker: comma-separated words such as
// "offer=fail", "offer=never", "answer=late", "local=fail", "remote=never",
// "stats=fail", "probe=never" (the first offer of a connection), "init=fail", "factory=fail",
// "pc=fail", "screens=0", "capturer=fail", "capture=fail", "h264=none",
// "candidates=N", "state=N" (a single state reported when connected),
// "candidate=refuse", "sdp=empty", "sdp=huge", "channels=fail", "desktop=system", "input=hold".
Script parseScript(const std::string& text);

class ScriptedPeerConnection;
class ScriptedCapturer;

class ScriptedEngine final : public engine::Engine {
public:
    explicit ScriptedEngine(Script script = {});
    ~ScriptedEngine() override;

    bool initialize() override;
    void terminate() override;
    std::shared_ptr<engine::PeerConnectionFactory> createPeerConnectionFactory() override;
    std::shared_ptr<engine::MediaConstraints> createMediaConstraints() override;
    std::shared_ptr<engine::IceCandidate> createIceCandidate(const std::string& candidate, const std::string& sdpMid,
                                                             std::int32_t sdpMLineIndex) override;

    Script& script() { return script_; }
    EngineThread& thread() { return thread_; }
    // Every operation the worker called, in order ("createOffer", "addCandidate:<text>", ...).
    std::vector<std::string> calls() const;
    void record(std::string call);
    // The peer connections created so far, oldest first.
    std::vector<std::shared_ptr<ScriptedPeerConnection>> peerConnections() const;
    void adopt(const std::shared_ptr<ScriptedPeerConnection>& connection);
    void adopt(const std::shared_ptr<ScriptedCapturer>& capturer);
    // Every capturer still alive tells its observer that capture failed, as
    // an engine thread does.
    void failCapture();

private:
    Script script_;
    mutable std::mutex mutex_;
    std::vector<std::string> calls_;
    std::vector<std::shared_ptr<ScriptedPeerConnection>> connections_;
    std::vector<std::weak_ptr<ScriptedCapturer>> capturers_;
    EngineThread thread_;
};

class ScriptedDataChannel;

class ScriptedPeerConnection final : public engine::PeerConnection,
                                     public std::enable_shared_from_this<ScriptedPeerConnection> {
public:
    ScriptedPeerConnection(ScriptedEngine& engine, int number) : engine_(engine), number_(number) {}

    void registerObserver(engine::PeerConnectionObserver* observer) override;
    void unregisterObserver() override;
    void createOffer(engine::DescriptionSuccess onSuccess, engine::Failure onFailure,
                     const std::shared_ptr<engine::MediaConstraints>& constraints) override;
    void createAnswer(engine::DescriptionSuccess onSuccess, engine::Failure onFailure,
                      const std::shared_ptr<engine::MediaConstraints>& constraints) override;
    void setLocalDescription(const std::string& sdp, const std::string& type, engine::Success onSuccess,
                             engine::Failure onFailure) override;
    void setRemoteDescription(const std::string& sdp, const std::string& type, engine::Success onSuccess,
                              engine::Failure onFailure) override;
    void addCandidate(const std::string& sdpMid, std::int32_t sdpMLineIndex, const std::string& candidate) override;
    std::shared_ptr<engine::DataChannel> createDataChannel(const std::string& label,
                                                           const engine::DataChannelInit& init) override;
    std::shared_ptr<engine::RtpTransceiver> addTrack(const std::shared_ptr<engine::VideoTrack>& track,
                                                     const std::vector<std::string>& streamIds) override;
    void getStats(engine::StatsSuccess onSuccess, engine::Failure onFailure) override;
    engine::PeerConnectionState connectionState() override;
    std::int32_t iceConnectionState() override { return 0; }
    void close() override;

    // Test hooks, each delivered on the engine thread.
    void emitCandidate(const std::string& candidate);
    void emitState(engine::PeerConnectionState state);
    std::vector<std::pair<std::string, engine::DataChannelInit>> createdChannels() const;
    std::vector<engine::RtpCodecCapability> codecPreferences() const;
    std::shared_ptr<ScriptedDataChannel> channel(const std::string& label) const;
    bool closed() const;
    bool hasObserver() const;

private:
    void reply(Reply how, std::function<void()> success, std::function<void()> failure);
    // The outcome as a task that runs only while the operation is still open.
    std::function<void()> settling(std::uint64_t operation, std::function<void()> outcome);
    void connected();
    void linkTo(int remoteNumber);
    void deliverRemoteMedia(const std::shared_ptr<ScriptedPeerConnection>& remote);
    void notify(const std::function<void(engine::PeerConnectionObserver&)>& call);

    ScriptedEngine& engine_;
    const int number_;
    mutable std::mutex mutex_;
    mutable std::recursive_mutex observerMutex_;
    engine::PeerConnectionObserver* observer_ = nullptr;
    engine::PeerConnectionState state_ = engine::stateNew;
    bool localSet_ = false;
    bool remoteSet_ = false;
    bool closed_ = false;
    bool offerer_ = false;
    std::vector<std::shared_ptr<ScriptedDataChannel>> channels_;
    std::vector<std::pair<std::string, engine::DataChannelInit>> createdChannels_;
    std::shared_ptr<engine::VideoTrack> localTrack_;
    std::vector<engine::RtpCodecCapability> codecPreferences_;
    int candidatesEmitted_ = 0;
    int offersCreated_ = 0;
    // Operations not answered yet, with their failure: close() fails them.
    std::map<std::uint64_t, std::function<void()>> openOperations_;
    std::uint64_t nextOperation_ = 1;
};

class ScriptedDataChannel final : public engine::DataChannel {
public:
    ScriptedDataChannel(ScriptedEngine& engine, std::string label) : engine_(engine), label_(std::move(label)) {}

    void registerObserver(engine::DataChannelObserver* observer) override;
    void unregisterObserver() override;
    void send(std::string_view data, bool binary) override;
    void close() override;
    std::string label() const override { return label_; }

    // Test hooks, delivered on the engine thread.
    void open();
    void receive(std::string data, bool binary);
    std::vector<std::string> sent() const;
    void linkTo(const std::shared_ptr<ScriptedDataChannel>& remote);

private:
    static void holdInput(const ScriptedPeerConnection& connection, std::uint64_t inputEpoch);

    ScriptedEngine& engine_;
    const std::string label_;
    // Deliveries hold the observer lock, so unregistering waits for one in
    // flight; sending takes only the other lock, so an observer that sends
    // from a callback, or under a lock of its own, orders nothing against it.
    mutable std::mutex mutex_;
    std::mutex observerMutex_;
    engine::DataChannelObserver* observer_ = nullptr;
    std::vector<std::string> sent_;
    std::weak_ptr<ScriptedDataChannel> remote_;
};

}  // namespace native_worker::scripted
