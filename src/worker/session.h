#pragma once

#include "input/remote_control.h"
#include "input/sink.h"
#include "media/displays.h"
#include "media/engine.h"
#include "media/frame_counter.h"
#include "media/peer.h"
#include "media/stats.h"
#include "platform/display_services.h"
#include "platform/input_services.h"
#include "transport/host_writer.h"
#include "worker/clock.h"
#include "worker/outbox.h"
#include "worker/pending_operation.h"

#include <nlohmann/json.hpp>

#include <atomic>
#include <cstdint>
#include <deque>
#include <future>
#include <memory>
#include <optional>
#include <set>
#include <string>

namespace native_worker {

// What a session needs from outside: the engine, the platform's display and
// input services, the injection sink and a clock. Tests pass scripted ones.
struct SessionServices {
    engine::Engine& engine;
    platform::DisplayServices& displays;
    platform::InputServices& input;
    kelvarn::input::Sink& sink;
    const Clock& clock;
};

// The one serve-mode session of a worker process: identity, role and
// negotiation state, every engine object, and the only way events leave.
class Session final : public engine::DesktopCapturerObserver {
public:
    static constexpr std::size_t requestIdBound = 4096;
    static constexpr std::size_t remoteCandidateBound = 128;
    static constexpr std::size_t maximumSdpBytes = 1'048'576;
    // Candidate events per pump pass: a burst of gathered candidates must not
    // outrun the writer's queue of 64 lines and end the session.
    static constexpr std::size_t candidateEventsPerPass = 32;

    Session(transport::HostWriter& writer, SessionServices services);
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Envelope checks, then the command; true only for an accepted peer.close.
    bool dispatch(const nlohmann::json& message);
    // One non-blocking pass over the engine's results and events.
    void pump();
    void reportFatalError(const char* code);
    // Tears everything down in its fixed order and reports peer.closed.
    void close(const nlohmann::json& requestId);

    const std::string& currentRequestId() const { return currentRequestId_; }
    void clearCurrentRequestId() { currentRequestId_.clear(); }

    void onCaptureStarted() override;
    void onCapturePaused() override;
    void onCaptureStopped() override;
    void onCaptureFailed() override;

private:
    struct RemoteCandidate {
        std::string sdpMid;
        std::int32_t sdpMLineIndex = 0;
        std::string candidate;
    };

    void checkEnvelope(const nlohmann::json& message);
    void dispatchReady(const std::string& type, const nlohmann::json& message);

    // peer.create and engine start-up
    void createPeer(const nlohmann::json& message, Identity identity);
    void readInputSettings(const nlohmann::json& message);
    void startEngine(const engine::PeerConnectionConfiguration& configuration);
    void installPeerCallbacks();

    // offer/answer and descriptions
    void createDescription(bool offer, const nlohmann::json& message);
    void setRemoteDescription(const nlohmann::json& message);
    void applyDescription(const std::string& sdp, bool remote);
    void completeOperation(Completion completion);

    // candidates
    void addRemoteCandidate(const nlohmann::json& message);
    void releaseQueuedCandidates();

    // host media
    void constructPeer();
    void constructHostMedia();
    nlohmann::json createdCapture() const;

    // remote control
    void createRemoteControl();
    void handleInputGate(const nlohmann::json& message);
    void evaluateInputGate();
    void sendDisplayList();
    void revokeInputForCapture();

    // pump steps
    void pollPendingOperation();
    void sendLocalCandidates();
    void reportConnectionState();
    void pollStatistics();
    void startStatisticsQuery();

    Outbox outbox_;
    engine::Engine& engine_;
    platform::DisplayServices& displayServices_;
    platform::InputServices& inputServices_;
    kelvarn::input::Sink& sink_;
    const Clock& clock_;

    bool engineInitialized_ = false;
    bool socketsStarted_ = false;
    bool factoryInitialized_ = false;
    bool remoteDescriptionApplied_ = false;
    bool closing_ = false;
    // Read by engine threads announcing the displays; set after they are recorded.
    std::atomic<bool> ready_{false};
    std::int32_t captureFps_ = 0;
    std::string role_;
    std::set<std::string> seenRequestIds_;
    FrameCounter capturedCounter_;
    FrameCounter decodedCounter_;
    Peer peer_;
    std::shared_ptr<engine::PeerConnectionFactory> factory_;
    std::shared_ptr<engine::MediaConstraints> constraints_;
    std::shared_ptr<engine::DesktopCapturer> capturer_;
    std::shared_ptr<engine::VideoSource> videoSource_;
    std::shared_ptr<engine::VideoTrack> videoTrack_;
    std::unique_ptr<PendingOperation> pending_;
    std::deque<RemoteCandidate> remoteCandidates_;
    std::deque<LocalCandidate> outgoingCandidates_;
    engine::PeerConnectionState lastReportedState_ = engine::stateNew;
    Clock::TimePoint nextMediaTime_;
    std::future<Stats> statistics_;
    Clock::TimePoint statisticsDeadline_{};
    bool inputConfigured_ = false;
    bool inputApproved_ = false;
    std::uint64_t inputEpoch_ = 0;
    // Owned here; engine threads reach it only through the published pointer,
    // which is set once it is complete and cleared before it is destroyed.
    std::unique_ptr<RemoteControl> remoteControl_;
    std::atomic<RemoteControl*> publishedControl_{nullptr};
    std::atomic<bool> captureHealthy_{true};
    std::atomic<bool> geometryChanged_{false};
    bool lastReportedReady_ = false;
    nlohmann::json displays_ = nlohmann::json::array();
    std::uint64_t capturedMonitor_ = 0;
    CaptureTarget captureTarget_;
    std::string currentRequestId_;
};

}  // namespace native_worker
