#pragma once

#include "base/clock.h"
#include "media/displays.h"
#include "media/engine.h"
#include "media/engine_session.h"
#include "media/frame_counter.h"
#include "media/peer.h"
#include "media/stats.h"
#include "platform/display_services.h"
#include "platform/input_services.h"
#include "platform/input_sink.h"
#include "transport/host_writer.h"
#include "worker/control_channel.h"
#include "worker/engine_events.h"
#include "worker/input_control.h"
#include "worker/negotiation.h"
#include "worker/outbox.h"
#include "worker/role.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <future>
#include <set>
#include <string>

namespace native_worker {

// What the worker needs from outside: the engine, the platform's display and
// input services and the injection sink. Tests pass scripted ones.
struct WorkerServices {
    engine::Engine& engine;
    platform::DisplayServices& displays;
    platform::InputServices& input;
    kelvarn::input::Sink& sink;
};

// The one serve-mode session of a worker process: the envelope and the
// commands of the host application, made of its parts: the engine's use, the
// negotiation, the host's media and the input control. Only the serve loop's
// thread touches it, with two exceptions that must act at once: the peer's
// callbacks hand channel traffic to the input control and announce the
// displays when "control" opens. What else engine threads report reaches the
// session through a queue that each pump pass takes.
class Session final {
public:
    static constexpr std::size_t requestIdBound = 4096;

    Session(transport::HostWriter& writer, WorkerServices services, const Clock& clock);
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

private:
    void checkEnvelope(const nlohmann::json& message);
    void dispatchReady(const std::string& type, const nlohmann::json& message);

    // peer.create and what follows its probe
    void createPeer(const nlohmann::json& message, Identity identity);
    void observePeer();
    void constructPeer();
    void constructHostMedia();
    nlohmann::json createdCapture() const;

    // pump steps
    void handleEngineEvents();
    void reportConnectionState();
    void pollStatistics();
    void startStatisticsQuery();

    Outbox outbox_;
    platform::DisplayServices& displayServices_;
    const Clock& clock_;
    std::string currentRequestId_;
    std::set<std::string> seenRequestIds_;

    Role role_ = Role::controller;
    bool ready_ = false;
    bool closing_ = false;
    std::int32_t captureFps_ = 0;
    EngineEvents events_;
    FrameCounter capturedCounter_;
    FrameCounter decodedCounter_;
    Peer peer_;
    Negotiation negotiation_;
    InputControl input_;

    // The host's media as recorded when capture started.
    nlohmann::json displays_ = nlohmann::json::array();
    std::uint64_t capturedMonitor_ = 0;
    CaptureTarget captureTarget_;
    DisplayAnnouncement announcement_;

    engine::PeerConnectionState lastReportedState_ = engine::stateNew;
    Clock::TimePoint nextMediaTime_;
    std::future<Stats> statistics_;
    Clock::TimePoint statisticsDeadline_{};

    // Last, so that it is destroyed first: closing the engine stops every
    // callback into the parts above.
    EngineSession engineSession_;
};

}  // namespace native_worker
