#include "scripted_engine.h"

#include <nlohmann/json.hpp>

#include <array>
#include <sstream>

namespace native_worker::scripted {
namespace {

// A tiny I420 picture for every frame the scripted engine delivers.
constexpr std::int32_t frameSide = 4;
const std::array<std::uint8_t, 16> lumaPlane{16, 32, 48, 64, 80, 96, 112, 128, 144, 160, 176, 192, 208, 224, 240, 255};
const std::array<std::uint8_t, 4> chromaPlane{128, 100, 150, 90};

engine::VideoFrame scriptedFrame() {
    return {frameSide, frameSide, lumaPlane.data(), chromaPlane.data(), chromaPlane.data(), frameSide, 2, 2};
}

class ScriptedConstraints final : public engine::MediaConstraints {};

class ScriptedIceCandidate final : public engine::IceCandidate {
public:
    ScriptedIceCandidate(std::string candidate, std::string mid, std::int32_t index)
        : candidate_(std::move(candidate)), mid_(std::move(mid)), index_(index) {}
    std::string sdpMid() const override { return mid_; }
    std::int32_t sdpMLineIndex() const override { return index_; }
    std::string candidate() const override { return candidate_; }

private:
    std::string candidate_;
    std::string mid_;
    std::int32_t index_;
};

class ScriptedVideoTrack final : public engine::VideoTrack {
public:
    void addRenderer(engine::VideoRenderer* renderer) override {
        std::lock_guard lock(mutex_);
        renderers_.push_back(renderer);
    }
    void removeRenderer(engine::VideoRenderer* renderer) override {
        std::lock_guard lock(mutex_);
        std::erase(renderers_, renderer);
    }
    void deliver(std::uint32_t frames) {
        const engine::VideoFrame frame = scriptedFrame();
        std::lock_guard lock(mutex_);
        for (std::uint32_t i = 0; i < frames; ++i)
            for (auto* renderer : renderers_) renderer->onFrame(&frame);
    }

private:
    std::mutex mutex_;
    std::vector<engine::VideoRenderer*> renderers_;
};

class ScriptedVideoSource final : public engine::VideoSource {};

class ScriptedReceiver final : public engine::RtpReceiver {
public:
    explicit ScriptedReceiver(std::shared_ptr<ScriptedVideoTrack> track) : track_(std::move(track)) {}
    std::shared_ptr<engine::VideoTrack> videoTrack() override { return track_; }

private:
    std::shared_ptr<ScriptedVideoTrack> track_;
};

class ScriptedTransceiver final : public engine::RtpTransceiver {
public:
    ScriptedTransceiver(engine::MediaKind kind, std::shared_ptr<ScriptedVideoTrack> track,
                        std::function<void(const std::vector<engine::RtpCodecCapability>&)> onPreferences)
        : kind_(kind),
          receiver_(std::make_shared<ScriptedReceiver>(std::move(track))),
          onPreferences_(std::move(onPreferences)) {}
    engine::MediaKind mediaKind() const override { return kind_; }
    std::shared_ptr<engine::RtpReceiver> receiver() override { return receiver_; }
    void setCodecPreferences(const std::vector<engine::RtpCodecCapability>& codecs) override {
        if (onPreferences_) onPreferences_(codecs);
    }

private:
    engine::MediaKind kind_;
    std::shared_ptr<ScriptedReceiver> receiver_;
    std::function<void(const std::vector<engine::RtpCodecCapability>&)> onPreferences_;
};

class ScriptedSource final : public engine::MediaSource {
public:
    explicit ScriptedSource(std::string id) : id_(std::move(id)) {}
    std::string id() const override { return id_; }

private:
    std::string id_;
};

class ScriptedSourceList final : public engine::SourceList {
public:
    explicit ScriptedSourceList(ScriptedEngine& engine) : engine_(engine) {}
    std::int32_t refresh(bool, bool) override {
        engine_.record("refreshSources");
        const auto& ids = engine_.script().screenIds;
        return engine_.script().refreshResult.value_or(static_cast<std::int32_t>(ids.size()));
    }
    std::int32_t count() const override { return static_cast<std::int32_t>(engine_.script().screenIds.size()); }
    std::shared_ptr<engine::MediaSource> source(std::int32_t index) override {
        const auto& ids = engine_.script().screenIds;
        if (index < 0 || index >= count()) return nullptr;
        return std::make_shared<ScriptedSource>(ids[static_cast<std::size_t>(index)]);
    }

private:
    ScriptedEngine& engine_;
};

}  // namespace

// Named, so that the engine can keep the capturers it made.
class ScriptedCapturer final : public engine::DesktopCapturer, public std::enable_shared_from_this<ScriptedCapturer> {
public:
    explicit ScriptedCapturer(ScriptedEngine& engine) : engine_(engine) {}
    void registerObserver(engine::DesktopCapturerObserver* observer) override {
        engine_.record("capturer.registerObserver");
        std::lock_guard lock(mutex_);
        observer_ = observer;
    }
    void unregisterObserver() override {
        engine_.record("capturer.unregisterObserver");
        std::lock_guard lock(mutex_);
        observer_ = nullptr;
    }
    StartResult start(std::uint32_t framesPerSecond) override {
        engine_.record("capturer.start:" + std::to_string(framesPerSecond));
        const StartResult result = engine_.script().captureStart;
        if (result != StartResult::running) return result;
        running_ = true;
        engine_.thread().post([self = shared_from_this()] {
            std::lock_guard lock(self->mutex_);
            if (self->observer_) self->observer_->onCaptureStarted();
            for (const auto& track : self->tracks_) track->deliver(self->engine_.script().framesWhenConnected);
        });
        return result;
    }
    void stop() override {
        engine_.record("capturer.stop");
        running_ = false;
    }
    bool isRunning() const override { return running_; }
    void fail() {
        std::lock_guard lock(mutex_);
        if (observer_) observer_->onCaptureFailed();
    }
    void feed(std::shared_ptr<ScriptedVideoTrack> track) {
        std::lock_guard lock(mutex_);
        tracks_.push_back(std::move(track));
    }

private:
    ScriptedEngine& engine_;
    std::mutex mutex_;
    engine::DesktopCapturerObserver* observer_ = nullptr;
    std::vector<std::shared_ptr<ScriptedVideoTrack>> tracks_;
    std::atomic<bool> running_{false};
};

namespace {

class ScriptedCapturingSource final : public engine::VideoSource {
public:
    explicit ScriptedCapturingSource(std::shared_ptr<ScriptedCapturer> source) : capturer(std::move(source)) {}
    std::shared_ptr<ScriptedCapturer> capturer;
};

class ScriptedDesktopDevice final : public engine::DesktopDevice {
public:
    explicit ScriptedDesktopDevice(ScriptedEngine& engine) : engine_(engine) {}
    std::shared_ptr<engine::SourceList> screenSources() override {
        return std::make_shared<ScriptedSourceList>(engine_);
    }
    std::shared_ptr<engine::DesktopCapturer> createCapturer(const std::shared_ptr<engine::MediaSource>& source,
                                                            bool) override {
        engine_.record("createCapturer:" + (source ? source->id() : std::string("null")));
        if (!engine_.script().capturer) return nullptr;
        auto capturer = std::make_shared<ScriptedCapturer>(engine_);
        engine_.adopt(capturer);
        return capturer;
    }

private:
    ScriptedEngine& engine_;
};

class ScriptedFactory final : public engine::PeerConnectionFactory {
public:
    explicit ScriptedFactory(ScriptedEngine& engine) : engine_(engine) {}
    bool initialize() override {
        engine_.record("factory.initialize");
        return engine_.script().factoryInitialize;
    }
    bool terminate() override {
        engine_.record("factory.terminate");
        return true;
    }
    std::shared_ptr<engine::PeerConnection> createPeerConnection(
        const engine::PeerConnectionConfiguration& configuration,
        const std::shared_ptr<engine::MediaConstraints>&) override {
        std::string servers;
        for (const auto& server : configuration.iceServers)
            if (!server.url.empty()) servers += " " + server.url;
        engine_.record("createPeerConnection:" + std::to_string(configuration.offerToReceiveAudio) +
                       std::to_string(configuration.screencastMinBitrateKbps) + servers);
        if (!engine_.script().peerConnection) return nullptr;
        auto connection =
            std::make_shared<ScriptedPeerConnection>(engine_, static_cast<int>(engine_.peerConnections().size()) + 1);
        engine_.adopt(connection);
        return connection;
    }
    void deletePeerConnection(const std::shared_ptr<engine::PeerConnection>&) override {
        engine_.record("deletePeerConnection");
    }
    std::shared_ptr<engine::DesktopDevice> desktopDevice() override {
        return std::make_shared<ScriptedDesktopDevice>(engine_);
    }
    std::shared_ptr<engine::VideoSource> createDesktopSource(
        const std::shared_ptr<engine::DesktopCapturer>& capturer, const std::string& name,
        const std::shared_ptr<engine::MediaConstraints>&) override {
        engine_.record("createDesktopSource:" + name);
        if (!engine_.script().videoSource) return nullptr;
        return std::make_shared<ScriptedCapturingSource>(std::static_pointer_cast<ScriptedCapturer>(capturer));
    }
    std::shared_ptr<engine::VideoTrack> createVideoTrack(const std::shared_ptr<engine::VideoSource>& source,
                                                         const std::string& trackId) override {
        engine_.record("createVideoTrack:" + trackId);
        if (!engine_.script().videoTrack) return nullptr;
        auto track = std::make_shared<ScriptedVideoTrack>();
        if (auto capturing = std::dynamic_pointer_cast<ScriptedCapturingSource>(source))
            capturing->capturer->feed(track);
        return track;
    }
    std::vector<engine::RtpCodecCapability> senderCapabilities(engine::MediaKind) override {
        return engine_.script().senderCodecs;
    }

private:
    ScriptedEngine& engine_;
};

std::string describe(int number, const char* kind) {
    return "v=0\r\no=scripted " + std::to_string(number) + " 0 IN IP4 127.0.0.1\r\ns=" + kind + "\r\n";
}

int describedConnection(const std::string& sdp) {
    const auto at = sdp.find("o=scripted ");
    if (at == std::string::npos) return 0;
    return std::atoi(sdp.c_str() + at + 11);
}

}  // namespace

// --- engine ---

ScriptedEngine::ScriptedEngine(Script script) : script_(std::move(script)) {}

ScriptedEngine::~ScriptedEngine() {
    thread_.drain();
}

bool ScriptedEngine::initialize() {
    record("initialize");
    return script_.initialize;
}

void ScriptedEngine::terminate() {
    record("terminate");
    // The failures the closed connections posted reach the worker before the engine ends.
    thread_.drain();
}

std::shared_ptr<engine::PeerConnectionFactory> ScriptedEngine::createPeerConnectionFactory() {
    record("createPeerConnectionFactory");
    if (!script_.factory) return nullptr;
    return std::make_shared<ScriptedFactory>(*this);
}

std::shared_ptr<engine::MediaConstraints> ScriptedEngine::createMediaConstraints() {
    return std::make_shared<ScriptedConstraints>();
}

std::shared_ptr<engine::IceCandidate> ScriptedEngine::createIceCandidate(const std::string& candidate,
                                                                         const std::string& sdpMid,
                                                                         std::int32_t sdpMLineIndex) {
    if (!script_.parseCandidates || candidate.rfind("candidate:", 0) != 0) return nullptr;
    return std::make_shared<ScriptedIceCandidate>(candidate, sdpMid, sdpMLineIndex);
}

std::vector<std::string> ScriptedEngine::calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

void ScriptedEngine::record(std::string call) {
    std::lock_guard lock(mutex_);
    calls_.push_back(std::move(call));
}

std::vector<std::shared_ptr<ScriptedPeerConnection>> ScriptedEngine::peerConnections() const {
    std::lock_guard lock(mutex_);
    return connections_;
}

void ScriptedEngine::adopt(const std::shared_ptr<ScriptedPeerConnection>& connection) {
    std::lock_guard lock(mutex_);
    connections_.push_back(connection);
}

void ScriptedEngine::adopt(const std::shared_ptr<ScriptedCapturer>& capturer) {
    std::lock_guard lock(mutex_);
    capturers_.push_back(capturer);
}

void ScriptedEngine::failCapture() {
    std::vector<std::weak_ptr<ScriptedCapturer>> capturers;
    {
        std::lock_guard lock(mutex_);
        capturers = capturers_;
    }
    thread_.post([capturers] {
        for (const auto& weak : capturers)
            if (const auto capturer = weak.lock()) capturer->fail();
    });
}

// --- peer connection ---

// Observer calls hold this lock, so unregistering waits for one in flight, as
// with a real engine; it is recursive because an observer may call back in.
void ScriptedPeerConnection::notify(const std::function<void(engine::PeerConnectionObserver&)>& call) {
    std::lock_guard lock(observerMutex_);
    if (observer_) call(*observer_);
}

void ScriptedPeerConnection::registerObserver(engine::PeerConnectionObserver* observer) {
    std::lock_guard lock(observerMutex_);
    observer_ = observer;
}

void ScriptedPeerConnection::unregisterObserver() {
    engine_.record("unregisterObserver");
    std::lock_guard lock(observerMutex_);
    observer_ = nullptr;
}

// As with a real engine, an operation ends in one outcome: its answer, or
// the failure close() gives it; an answer after that is dropped. One never
// answered keeps its failure until then.
void ScriptedPeerConnection::reply(Reply how, std::function<void()> success, std::function<void()> failure) {
    std::uint64_t operation = 0;
    {
        std::lock_guard lock(mutex_);
        operation = nextOperation_++;
        openOperations_.emplace(operation, failure);
    }
    switch (how) {
        case Reply::succeed:
            engine_.thread().post(settling(operation, std::move(success)));
            break;
        case Reply::fail:
            engine_.thread().post(settling(operation, std::move(failure)));
            break;
        case Reply::late:
            engine_.thread().post(settling(operation, std::move(success)), engine_.script().lateDelay);
            break;
        case Reply::never:
            break;
    }
}

std::function<void()> ScriptedPeerConnection::settling(std::uint64_t operation, std::function<void()> outcome) {
    return [self = shared_from_this(), operation, outcome = std::move(outcome)] {
        bool open = false;
        {
            std::lock_guard lock(self->mutex_);
            open = self->openOperations_.erase(operation) != 0;
        }
        if (open) outcome();
    };
}

void ScriptedPeerConnection::createOffer(engine::DescriptionSuccess onSuccess, engine::Failure onFailure,
                                         const std::shared_ptr<engine::MediaConstraints>&) {
    engine_.record("createOffer");
    const std::string sdp = engine_.script().descriptionOverride.value_or(describe(number_, "offer"));
    const Reply how = offersCreated_++ == 0 ? engine_.script().probe : engine_.script().createOffer;
    reply(
        how, [onSuccess, sdp] { onSuccess(sdp, "offer"); }, [onFailure] { onFailure("scripted failure"); });
}

void ScriptedPeerConnection::createAnswer(engine::DescriptionSuccess onSuccess, engine::Failure onFailure,
                                          const std::shared_ptr<engine::MediaConstraints>&) {
    engine_.record("createAnswer");
    const std::string sdp = engine_.script().descriptionOverride.value_or(describe(number_, "answer"));
    reply(
        engine_.script().createAnswer, [onSuccess, sdp] { onSuccess(sdp, "answer"); },
        [onFailure] { onFailure("scripted failure"); });
}

void ScriptedPeerConnection::setLocalDescription(const std::string& sdp, const std::string& type,
                                                 engine::Success onSuccess, engine::Failure onFailure) {
    engine_.record("setLocalDescription:" + type);
    auto self = shared_from_this();
    const bool offer = type == "offer" && !sdp.empty();
    reply(
        engine_.script().setLocal,
        [self, onSuccess, offer] {
            bool nowConnected = false;
            {
                std::lock_guard lock(self->mutex_);
                self->localSet_ = true;
                self->offerer_ = self->offerer_ || offer;
                nowConnected = self->remoteSet_;
            }
            onSuccess();
            for (int i = 0; i < self->engine_.script().localCandidatesPerDescription; ++i) {
                const int n = ++self->candidatesEmitted_;
                self->emitCandidate("candidate:" + std::to_string(n) + " 1 udp 2122260223 127.0.0.1 " +
                                    std::to_string(50000 + n) + " typ host");
            }
            if (nowConnected) self->connected();
        },
        [onFailure] { onFailure("scripted failure"); });
}

void ScriptedPeerConnection::setRemoteDescription(const std::string& sdp, const std::string& type,
                                                  engine::Success onSuccess, engine::Failure onFailure) {
    engine_.record("setRemoteDescription:" + type);
    auto self = shared_from_this();
    // Only the answering side of an in-process pair receives the other's media.
    const int remote = type == "offer" ? describedConnection(sdp) : 0;
    reply(
        engine_.script().setRemote,
        [self, onSuccess, remote] {
            bool nowConnected = false;
            {
                std::lock_guard lock(self->mutex_);
                self->remoteSet_ = true;
                nowConnected = self->localSet_;
            }
            onSuccess();
            if (remote != 0) self->linkTo(remote);
            if (nowConnected) self->connected();
        },
        [onFailure] { onFailure("scripted failure"); });
}

void ScriptedPeerConnection::addCandidate(const std::string& sdpMid, std::int32_t sdpMLineIndex,
                                          const std::string& candidate) {
    engine_.record("addCandidate:" + sdpMid + ":" + std::to_string(sdpMLineIndex) + ":" + candidate);
}

std::shared_ptr<engine::DataChannel> ScriptedPeerConnection::createDataChannel(const std::string& label,
                                                                               const engine::DataChannelInit& init) {
    engine_.record("createDataChannel:" + label);
    if (!engine_.script().dataChannels) return nullptr;
    auto channel = std::make_shared<ScriptedDataChannel>(engine_, label);
    std::lock_guard lock(mutex_);
    channels_.push_back(channel);
    createdChannels_.emplace_back(label, init);
    return channel;
}

std::shared_ptr<engine::RtpTransceiver> ScriptedPeerConnection::addTrack(
    const std::shared_ptr<engine::VideoTrack>& track, const std::vector<std::string>&) {
    engine_.record("addTrack");
    if (!engine_.script().transceiver) return nullptr;
    {
        std::lock_guard lock(mutex_);
        localTrack_ = track;
    }
    auto self = shared_from_this();
    return std::make_shared<ScriptedTransceiver>(engine::MediaKind::video, nullptr,
                                                 [self](const std::vector<engine::RtpCodecCapability>& codecs) {
                                                     self->engine_.record("setCodecPreferences");
                                                     std::lock_guard lock(self->mutex_);
                                                     self->codecPreferences_ = codecs;
                                                 });
}

void ScriptedPeerConnection::getStats(engine::StatsSuccess onSuccess, engine::Failure onFailure) {
    bool offerer = false;
    {
        std::lock_guard lock(mutex_);
        offerer = offerer_;
    }
    const std::uint32_t encoded = engine_.script().framesEncoded;
    reply(
        engine_.script().stats,
        [onSuccess, offerer, encoded] {
            std::vector<engine::StatsReport> reports;
            reports.push_back({"C1", "codec", {{"mimeType", true, "video/H264", 0}}});
            if (offerer)
                reports.push_back(
                    {"O1",
                     "outbound-rtp",
                     {{"codecId", true, "C1", 0}, {"framesEncoded", true, std::to_string(encoded), encoded}}});
            else
                reports.push_back({"I1", "inbound-rtp", {{"codecId", true, "C1", 0}}});
            onSuccess(std::move(reports));
        },
        [onFailure] { onFailure("scripted failure"); });
}

engine::PeerConnectionState ScriptedPeerConnection::connectionState() {
    std::lock_guard lock(mutex_);
    return state_;
}

void ScriptedPeerConnection::close() {
    engine_.record("close");
    std::map<std::uint64_t, std::function<void()>> abandoned;
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
        state_ = engine::stateClosed;
        abandoned.swap(openOperations_);
    }
    for (auto& [operation, failure] : abandoned) engine_.thread().post(std::move(failure));
}

void ScriptedPeerConnection::emitCandidate(const std::string& candidate) {
    auto self = shared_from_this();
    engine_.thread().post([self, candidate] {
        self->notify([&](engine::PeerConnectionObserver& target) {
            target.onIceCandidate(std::make_shared<ScriptedIceCandidate>(candidate, "0", 0));
        });
    });
}

void ScriptedPeerConnection::emitState(engine::PeerConnectionState state) {
    auto self = shared_from_this();
    engine_.thread().post([self, state] {
        {
            std::lock_guard lock(self->mutex_);
            self->state_ = state;
        }
        self->notify([state](engine::PeerConnectionObserver& target) { target.onConnectionState(state); });
    });
}

void ScriptedPeerConnection::connected() {
    const auto& states = engine_.script().statesWhenConnected;
    // One engine step: a poll from another thread sees the state before it or
    // the last one, never one in between.
    if (!states.empty()) {
        std::lock_guard lock(mutex_);
        state_ = states.back();
    }
    for (const auto state : states)
        notify([state](engine::PeerConnectionObserver& target) { target.onConnectionState(state); });
    std::vector<std::shared_ptr<ScriptedDataChannel>> channels;
    {
        std::lock_guard lock(mutex_);
        channels = channels_;
    }
    for (const auto& channel : channels) channel->open();
}

void ScriptedPeerConnection::linkTo(int remoteNumber) {
    for (const auto& remote : engine_.peerConnections())
        if (remote->number_ == remoteNumber && remote.get() != this) deliverRemoteMedia(remote);
}

// The answering side of an in-process pair receives the offerer's channels and video.
void ScriptedPeerConnection::deliverRemoteMedia(const std::shared_ptr<ScriptedPeerConnection>& remote) {
    std::vector<std::shared_ptr<ScriptedDataChannel>> remoteChannels;
    std::shared_ptr<engine::VideoTrack> remoteTrack;
    {
        std::lock_guard lock(remote->mutex_);
        remoteChannels = remote->channels_;
        remoteTrack = remote->localTrack_;
    }
    for (const auto& remoteChannel : remoteChannels) {
        auto local = std::make_shared<ScriptedDataChannel>(engine_, remoteChannel->label());
        local->linkTo(remoteChannel);
        remoteChannel->linkTo(local);
        {
            std::lock_guard lock(mutex_);
            channels_.push_back(local);
        }
        notify([&local](engine::PeerConnectionObserver& target) { target.onDataChannel(local); });
    }
    if (!remoteTrack) return;
    auto received = std::make_shared<ScriptedVideoTrack>();
    notify([&received](engine::PeerConnectionObserver& target) {
        target.onTrack(std::make_shared<ScriptedTransceiver>(engine::MediaKind::video, received, nullptr));
    });
    received->deliver(engine_.script().framesWhenConnected);
}

std::vector<std::pair<std::string, engine::DataChannelInit>> ScriptedPeerConnection::createdChannels() const {
    std::lock_guard lock(mutex_);
    return createdChannels_;
}

std::vector<engine::RtpCodecCapability> ScriptedPeerConnection::codecPreferences() const {
    std::lock_guard lock(mutex_);
    return codecPreferences_;
}

std::shared_ptr<ScriptedDataChannel> ScriptedPeerConnection::channel(const std::string& label) const {
    std::lock_guard lock(mutex_);
    for (const auto& channel : channels_)
        if (channel->label() == label) return channel;
    return nullptr;
}

bool ScriptedPeerConnection::closed() const {
    std::lock_guard lock(mutex_);
    return closed_;
}

bool ScriptedPeerConnection::hasObserver() const {
    std::lock_guard lock(observerMutex_);
    return observer_ != nullptr;
}

// --- data channel ---

void ScriptedDataChannel::registerObserver(engine::DataChannelObserver* observer) {
    std::lock_guard lock(observerMutex_);
    observer_ = observer;
}

void ScriptedDataChannel::unregisterObserver() {
    std::lock_guard lock(observerMutex_);
    observer_ = nullptr;
}

void ScriptedDataChannel::send(std::string_view data, bool binary) {
    std::shared_ptr<ScriptedDataChannel> remote;
    {
        std::lock_guard lock(mutex_);
        sent_.emplace_back(data);
        remote = remote_.lock();
    }
    if (remote) remote->receive(std::string(data), binary);
    if (!engine_.script().holdInput || label_ != "control") return;
    const auto told = nlohmann::json::parse(data, nullptr, false);
    if (told.is_object() && told.value("type", "") == "controlReady")
        for (const auto& connection : engine_.peerConnections())
            if (connection->channel("control").get() == this)
                holdInput(*connection, told["inputEpoch"].get<std::uint64_t>());
}

void ScriptedDataChannel::holdInput(const ScriptedPeerConnection& connection, std::uint64_t inputEpoch) {
    const auto event = [inputEpoch](nlohmann::json members, int sequence) {
        members.update({{"sequence", sequence},
                        {"inputEpoch", inputEpoch},
                        {"pressedKeys", nlohmann::json::array()},
                        {"pressedButtons", nlohmann::json::array()}});
        if (!members.contains("modifiers")) members["modifiers"] = {{"rawValue", 0}};
        return members.dump();
    };
    // Buttons belong to the control channel, whose events keep order.
    const auto control = connection.channel("control");
    control->receive(
        event({{"kind", "keyboard.key"}, {"keyCode", 0}, {"isDown", true}, {"modifiers", {{"rawValue", 3}}}}, 1),
        false);
    control->receive(event({{"kind", "pointer.button"}, {"button", "left"}, {"isDown", true}}, 2), false);
    control->receive(event({{"kind", "keyboard.text"}, {"text", "\u00e9\u20ac\u6f22"}}, 3), false);
}

void ScriptedDataChannel::close() {
    engine_.record("channel.close:" + label_);
}

void ScriptedDataChannel::open() {
    engine_.thread().post([this] {
        std::lock_guard lock(observerMutex_);
        if (observer_) observer_->onStateChange(engine::dataChannelOpen);
    });
}

void ScriptedDataChannel::receive(std::string data, bool binary) {
    engine_.thread().post([this, data = std::move(data), binary] {
        std::lock_guard lock(observerMutex_);
        if (observer_) observer_->onMessage(data.data(), static_cast<std::int32_t>(data.size()), binary);
    });
}

std::vector<std::string> ScriptedDataChannel::sent() const {
    std::lock_guard lock(mutex_);
    return sent_;
}

void ScriptedDataChannel::linkTo(const std::shared_ptr<ScriptedDataChannel>& remote) {
    std::lock_guard lock(mutex_);
    remote_ = remote;
}

// --- script text ---

Script parseScript(const std::string& text) {
    Script script;
    std::istringstream words(text);
    std::string word;
    const auto replyOf = [](const std::string& value) {
        if (value == "fail") return Reply::fail;
        if (value == "never") return Reply::never;
        if (value == "late") return Reply::late;
        return Reply::succeed;
    };
    while (std::getline(words, word, ',')) {
        const auto equals = word.find('=');
        if (equals == std::string::npos) continue;
        const std::string key = word.substr(0, equals);
        const std::string value = word.substr(equals + 1);
        if (key == "probe")
            script.probe = replyOf(value);
        else if (key == "offer")
            script.createOffer = replyOf(value);
        else if (key == "answer")
            script.createAnswer = replyOf(value);
        else if (key == "local")
            script.setLocal = replyOf(value);
        else if (key == "remote")
            script.setRemote = replyOf(value);
        else if (key == "stats")
            script.stats = replyOf(value);
        else if (key == "init")
            script.initialize = value != "fail";
        else if (key == "factory")
            script.factory = value != "fail";
        else if (key == "pc")
            script.peerConnection = value != "fail";
        else if (key == "screens")
            script.screenIds.resize(static_cast<std::size_t>(std::stoi(value)), "1");
        else if (key == "capturer")
            script.capturer = value != "fail";
        else if (key == "capture" && value == "fail")
            script.captureStart = engine::DesktopCapturer::StartResult::failed;
        else if (key == "h264" && value == "none")
            script.senderCodecs.erase(script.senderCodecs.begin());
        else if (key == "candidates")
            script.localCandidatesPerDescription = std::stoi(value);
        else if (key == "state")
            script.statesWhenConnected = {std::stoi(value)};
        else if (key == "candidate" && value == "refuse")
            script.parseCandidates = false;
        else if (key == "channels" && value == "fail")
            script.dataChannels = false;
        else if (key == "sdp" && value == "empty")
            script.descriptionOverride = "";
        else if (key == "sdp" && value == "huge")
            script.descriptionOverride = std::string(1'048'577, 'v');
        else if (key == "desktop" && value == "system")
            script.systemDesktop = true;
        else if (key == "input" && value == "hold")
            script.holdInput = true;
    }
    return script;
}

}  // namespace native_worker::scripted
