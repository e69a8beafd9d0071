#include "worker/input_control.h"

#include "base/field_checks.h"
#include "input/input_event.h"
#include "input/input_gate.h"
#include "worker/control_channel.h"
#include "worker/input_gate_command.h"

namespace native_worker {
InputControl::InputControl(Outbox& outbox, platform::DisplayServices& displays, platform::InputServices& input,
                           kelvarn::input::Sink& sink, EngineEvents& events)
    : outbox_(outbox), displayServices_(displays), inputServices_(input), sink_(sink), events_(events) {}

void InputControl::configure(const nlohmann::json& input) {
    if (!input.is_object()) refuseInvalidMessage();
    for (const auto& [key, value] : input.items())
        if (key != "inputEpoch" && key != "inputApproved") refuseInvalidMessage();
    const std::uint64_t epoch = requireUnsigned(input, "inputEpoch", 1, largestInputEpoch);
    const auto approved = input.find("inputApproved");
    if (approved == input.end() || !approved->is_boolean()) refuseInvalidMessage();
    epoch_ = epoch;
    approved_ = approved->get<bool>();
    configured_ = true;
}

void InputControl::onChannelMessage(std::string_view label, std::string_view data, bool binary) {
    if (RemoteControl* control = published_.load()) control->onMessage(label, data, binary);
}

void InputControl::onChannelState(std::string_view label, bool open) {
    if (RemoteControl* control = published_.load()) control->onChannelState(label, open);
}

void InputControl::onConnectionState(engine::PeerConnectionState state) {
    if (RemoteControl* control = published_.load(); control && isPeerLost(state)) control->onPeerLost();
}

void InputControl::start(Peer& peer, const CaptureTarget& target) {
    if (!configured_) return;
    remoteControl_ =
        std::make_unique<RemoteControl>(outbox_.identity(), epoch_, target.display, target.desktop, sink_,
                                        [&peer](const std::string& text) { sendOnChannel(peer, "control", text); });
    published_.store(remoteControl_.get());
}

void InputControl::handleGateCommand(const nlohmann::json& message, bool host, bool capturing,
                                     const std::string& requestId) {
    checkInputGateCommand(message, remoteControl_ != nullptr, host, epoch_);
    remoteControl_->updateGate({true, approved_, capturing, inputServices_.inputDesktopAvailable()});
    outbox_.sendEvent("peer.inputConfigured", requestId, inputConfiguredPayload(epoch_, remoteControl_->isReady()));
}

void InputControl::evaluate(bool capturing, std::uint64_t capturedFrames, std::uint64_t capturedMonitor,
                            const CaptureTarget& target) {
    if (!remoteControl_) return;
    const auto monitor = displayServices_.monitorInfo(capturedMonitor);
    const std::optional<platform::Rect> monitorRect = monitor ? std::optional(monitor->rect) : std::nullopt;
    if (geometryChanged(monitorRect, displayServices_.virtualScreen(), target.display, target.desktop))
        geometryChanged_ = true;
    remoteControl_->updateGate(evaluateGate({.approved = approved_,
                                             .captureHealthy = captureHealthy_,
                                             .geometryChanged = geometryChanged_,
                                             .capturing = capturing,
                                             .capturedFrames = capturedFrames,
                                             .inputDesktop = inputServices_.inputDesktopAvailable()}));
    const bool ready = remoteControl_->isReady();
    if (ready == lastReportedReady_) return;
    lastReportedReady_ = ready;
    outbox_.sendEvent("peer.inputConfigured", nullptr, inputConfiguredPayload(epoch_, ready));
}

void InputControl::onCaptureEvent(EngineEvent event) {
    if (event == EngineEvent::captureStarted) captureHealthy_ = true;
    if (event == EngineEvent::captureLost) captureHealthy_ = false;
}

void InputControl::shutdown() {
    if (remoteControl_) remoteControl_->shutdown();
}

void InputControl::release() {
    published_.store(nullptr);
    remoteControl_.reset();
}

void InputControl::onCaptureStarted() {
    events_.push(EngineEvent::captureStarted);
}

void InputControl::onCapturePaused() {
    captureLost();
}

void InputControl::onCaptureStopped() {
    captureLost();
}

void InputControl::onCaptureFailed() {
    captureLost();
}

void InputControl::captureLost() {
    if (RemoteControl* control = published_.load()) control->updateGate(revokingGate);
    events_.push(EngineEvent::captureLost);
}

}  // namespace native_worker
