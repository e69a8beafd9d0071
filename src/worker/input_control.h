#pragma once

#include "base/field_checks.h"
#include "input/remote_control.h"
#include "media/displays.h"
#include "media/engine.h"
#include "media/peer.h"
#include "platform/display_services.h"
#include "platform/input_services.h"
#include "platform/input_sink.h"
#include "worker/engine_events.h"
#include "worker/outbox.h"

#include <nlohmann/json.hpp>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace native_worker {

// The host's remote control as the session runs it: the input settings of
// peer.create, the gate the host application opens per input epoch, and the
// readings that close it. Only the serve loop's thread calls it, except
// where marked: engine threads reach the remote control only through the
// published pointer, which is set once it is complete and cleared before it
// is destroyed.
class InputControl final : public engine::DesktopCapturerObserver {
public:
    InputControl(Outbox& outbox, platform::DisplayServices& displays, platform::InputServices& input,
                 kelvarn::input::Sink& sink, EngineEvents& events);
    InputControl(const InputControl&) = delete;
    InputControl& operator=(const InputControl&) = delete;

    // The "input" object of peer.create; throws "invalid_message".
    void configure(const nlohmann::json& input);
    bool configured() const { return configured_; }
    std::uint64_t epoch() const { return configured_ ? epoch_ : 0; }

    // Engine threads: the peer's channel messages and states, and its
    // losses, go to the remote control once there is one.
    void onChannelMessage(std::string_view label, std::string_view data, bool binary);
    void onChannelState(std::string_view label, bool open);
    void onConnectionState(engine::PeerConnectionState state);
    // Creates the remote control for the captured display; a no-op when
    // input was not configured.
    void start(Peer& peer, const CaptureTarget& target);

    // "peer.inputGate": throws "invalid_message" or "input_epoch_mismatch".
    void handleGateCommand(const nlohmann::json& message, bool host, bool capturing, const std::string& requestId);
    // The pump's pass: re-reads what keeps input admitted and reports a change.
    void evaluate(bool capturing, std::uint64_t capturedFrames, std::uint64_t capturedMonitor,
                  const CaptureTarget& target);
    void onCaptureEvent(EngineEvent event);

    // Releases all held input; nothing is admitted any more.
    void shutdown();
    // After the peer is closed: no engine thread reaches the control any more.
    void release();

    // Engine threads: a capture that stops revokes input at once, and the
    // loop learns of it on its next pass.
    void onCaptureStarted() override;
    void onCapturePaused() override;
    void onCaptureStopped() override;
    void onCaptureFailed() override;

private:
    void captureLost();

    Outbox& outbox_;
    platform::DisplayServices& displayServices_;
    platform::InputServices& inputServices_;
    kelvarn::input::Sink& sink_;
    EngineEvents& events_;

    bool configured_ = false;
    bool approved_ = false;
    std::uint64_t epoch_ = 0;
    bool captureHealthy_ = true;
    bool geometryChanged_ = false;
    bool lastReportedReady_ = false;
    std::unique_ptr<RemoteControl> remoteControl_;
    std::atomic<RemoteControl*> published_{nullptr};
};

}  // namespace native_worker
