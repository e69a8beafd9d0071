#include "peer_pair.h"

#include "engine/gstreamer/gstreamer_engine.h"
#include "media/media_settings.h"

#include <algorithm>
#include <thread>
#include <utility>

namespace native_worker::integration {
namespace {

constexpr auto operationLimit = 10s;

}  // namespace

void RecordingObserver::onConnectionState(engine::PeerConnectionState state) {
    std::lock_guard lock(mutex_);
    states_.push_back(state);
    changed_.notify_all();
}

void RecordingObserver::onIceCandidate(const std::shared_ptr<engine::IceCandidate>& candidate) {
    std::lock_guard lock(mutex_);
    candidates_.push_back(candidate);
}

void RecordingObserver::onDataChannel(const std::shared_ptr<engine::DataChannel>& channel) {
    std::lock_guard lock(mutex_);
    channels_.push_back(channel);
    changed_.notify_all();
}

void RecordingObserver::onTrack(const std::shared_ptr<engine::RtpTransceiver>& transceiver) {
    auto track = transceiver->receiver()->videoTrack();
    if (!track) return;
    track->addRenderer(&decoded);
    std::lock_guard lock(mutex_);
    tracks_.push_back(std::move(track));
}

bool RecordingObserver::waitFor(const std::function<bool(const std::vector<engine::PeerConnectionState>&)>& done,
                                std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return done(states_); });
}

bool RecordingObserver::waitForChannels(std::size_t count, std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return channels_.size() >= count; });
}

std::vector<engine::PeerConnectionState> RecordingObserver::states() {
    std::lock_guard lock(mutex_);
    return states_;
}

std::vector<std::shared_ptr<engine::IceCandidate>> RecordingObserver::takeCandidates() {
    std::lock_guard lock(mutex_);
    return std::exchange(candidates_, {});
}

std::vector<std::shared_ptr<engine::DataChannel>> RecordingObserver::channels() {
    std::lock_guard lock(mutex_);
    return channels_;
}

void RecordingChannel::onStateChange(std::int32_t state) {
    std::lock_guard lock(mutex_);
    open_ = state == engine::dataChannelOpen;
    changed_.notify_all();
}

void RecordingChannel::onMessage(const char* data, std::int32_t length, bool binary) {
    std::lock_guard lock(mutex_);
    messages_.push_back({std::string(data, static_cast<std::size_t>(length)), binary});
    changed_.notify_all();
}

bool RecordingChannel::waitForOpen(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return open_; });
}

bool RecordingChannel::waitForMessages(std::size_t count, std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return messages_.size() >= count; });
}

std::vector<RecordingChannel::Message> RecordingChannel::messages() {
    std::lock_guard lock(mutex_);
    return messages_;
}

StartedEngine::StartedEngine()
    : displays(platform::createSystemDisplayServices()), engine(engine::createGStreamerEngine(*displays)) {
    if (!engine->initialize()) return;
    factory = engine->createPeerConnectionFactory();
    if (factory) factory->initialize();
    constraints = engine->createMediaConstraints();
}

StartedEngine::~StartedEngine() {
    if (factory) factory->terminate();
    factory.reset();
    engine->terminate();
}

std::string createdDescription(engine::PeerConnection& connection, bool offer) {
    Outcome<std::string> outcome;
    auto onSuccess = [&outcome](std::string sdp, std::string) { outcome.succeed(std::move(sdp)); };
    auto onFailure = [&outcome](std::string) { outcome.fail(); };
    if (offer)
        connection.createOffer(onSuccess, onFailure, nullptr);
    else
        connection.createAnswer(onSuccess, onFailure, nullptr);
    if (!outcome.wait(operationLimit) || outcome.results.empty()) return {};
    return outcome.results.front();
}

bool applied(engine::PeerConnection& connection, const std::string& sdp, const std::string& type, bool remote) {
    Outcome<bool> outcome;
    auto onSuccess = [&outcome] { outcome.succeed(true); };
    auto onFailure = [&outcome](std::string) { outcome.fail(); };
    if (remote)
        connection.setRemoteDescription(sdp, type, onSuccess, onFailure);
    else
        connection.setLocalDescription(sdp, type, onSuccess, onFailure);
    return outcome.wait(operationLimit) && !outcome.results.empty();
}

PeerPair::PeerPair(StartedEngine& startedEngine) : started(startedEngine) {
    engine::PeerConnectionConfiguration configuration = workerConfiguration();
    configuration.tcpCandidatePolicy = engine::TcpCandidatePolicy::disabled;
    host = started.factory->createPeerConnection(configuration, started.constraints);
    controller = started.factory->createPeerConnection(configuration, started.constraints);
    if (host) host->registerObserver(&hostObserver);
    if (controller) controller->registerObserver(&controllerObserver);
}

PeerPair::~PeerPair() {
    if (capturer) capturer->stop();
    for (auto* connection : {host.get(), controller.get()}) {
        if (!connection) continue;
        connection->close();
        connection->unregisterObserver();
    }
}

bool PeerPair::describe(engine::PeerConnection& from, engine::PeerConnection& to, bool offer) {
    const char* type = offer ? "offer" : "answer";
    const std::string sdp = createdDescription(from, offer);
    return !sdp.empty() && applied(from, sdp, type, false) && applied(to, sdp, type, true);
}

bool PeerPair::connect(const engine::DataChannelInit& control, const engine::DataChannelInit& motion,
                       const std::vector<std::pair<std::string, engine::DataChannelInit>>& negotiated) {
    if (!host || !controller) return false;
    const auto sources = started.factory->desktopDevice()->screenSources();
    if (sources->refresh(false, false) < 1) return false;
    capturer = started.factory->desktopDevice()->createCapturer(sources->source(0), false);
    track = started.factory->createVideoTrack(
        started.factory->createDesktopSource(capturer, "desktop", started.constraints), "desktop-video");
    const auto transceiver = host->addTrack(track, {});
    if (!transceiver) return false;
    transceiver->setCodecPreferences(h264SenderCodecs(*started.factory));
    hostChannels.push_back(host->createDataChannel("control", control));
    hostChannels.push_back(host->createDataChannel("motion", motion));
    for (const auto& [label, init] : negotiated) {
        hostChannels.push_back(host->createDataChannel(label, init));
        controllerChannels.push_back(controller->createDataChannel(label, init));
    }
    if (!describe(*host, *controller, true) || !describe(*controller, *host, false)) return false;
    if (capturer->start(15) != engine::DesktopCapturer::StartResult::running) return false;

    const auto deadline = std::chrono::steady_clock::now() + operationLimit;
    const auto connected = [](const std::vector<engine::PeerConnectionState>& states) {
        return std::find(states.begin(), states.end(), engine::stateConnected) != states.end();
    };
    while (std::chrono::steady_clock::now() < deadline) {
        for (const auto& candidate : hostObserver.takeCandidates())
            controller->addCandidate(candidate->sdpMid(), candidate->sdpMLineIndex(), candidate->candidate());
        for (const auto& candidate : controllerObserver.takeCandidates())
            host->addCandidate(candidate->sdpMid(), candidate->sdpMLineIndex(), candidate->candidate());
        if (hostObserver.waitFor(connected, 0ms) && controllerObserver.waitFor(connected, 0ms)) return true;
        std::this_thread::sleep_for(20ms);
    }
    return false;
}

}  // namespace native_worker::integration
