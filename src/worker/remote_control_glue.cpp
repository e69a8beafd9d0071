#include "input/control_channel.h"
#include "input/input_gate.h"
#include "worker/session.h"

namespace native_worker {

void Session::installPeerCallbacks() {
    peer_.setOnChannelMessage([this](std::string_view label, std::string_view data, bool binary) {
        if (RemoteControl* control = publishedControl_.load()) control->onMessage(label, data, binary);
    });
    peer_.setOnChannelState([this](std::string_view label, bool open) {
        if (RemoteControl* control = publishedControl_.load()) control->onChannelState(label, open);
        if (open && label == "control") sendDisplayList();
    });
    peer_.setOnConnectionState([this](engine::PeerConnectionState state) {
        if (RemoteControl* control = publishedControl_.load(); control && isPeerLost(state)) control->onPeerLost();
    });
}

void Session::createRemoteControl() {
    remoteControl_ = std::make_unique<RemoteControl>(
        outbox_.identity(), inputEpoch_, captureTarget_.display, captureTarget_.desktop, sink_,
        [this](const std::string& text) { sendOnChannel(peer_, "control", text); });
    publishedControl_.store(remoteControl_.get());
}

void Session::sendDisplayList() {
    if (role_ != "host" || !ready_.load() || captureTarget_.display.id.empty() || displays_.empty()) return;
    native_worker::sendDisplayList(peer_, displays_, captureTarget_.display.id);
}

void Session::revokeInputForCapture() {
    captureHealthy_.store(false);
    if (RemoteControl* control = publishedControl_.load()) control->updateGate(revokingGate);
}

void Session::handleInputGate(const nlohmann::json& message) {
    checkInputGateCommand(message, remoteControl_ != nullptr, role_ == "host", inputEpoch_);
    const GateState gate{true, inputApproved_, capturer_ && capturer_->isRunning(),
                         inputServices_.inputDesktopAvailable()};
    remoteControl_->updateGate(gate);
    outbox_.sendEvent("peer.inputConfigured", currentRequestId_,
                      inputConfiguredPayload(inputEpoch_, remoteControl_->isReady()));
}

void Session::evaluateInputGate() {
    if (role_ != "host" || !remoteControl_ || !capturer_) return;
    const auto monitor = displayServices_.monitorInfo(capturedMonitor_);
    const std::optional<platform::Rect> monitorRect = monitor ? std::optional(monitor->rect) : std::nullopt;
    if (geometryChanged(monitorRect, displayServices_.virtualScreen(), captureTarget_.display, captureTarget_.desktop))
        geometryChanged_.store(true);
    GateReadings readings;
    readings.approved = inputApproved_;
    readings.captureHealthy = captureHealthy_.load();
    readings.geometryChanged = geometryChanged_.load();
    readings.capturing = capturer_->isRunning();
    readings.capturedFrames = capturedCounter_.frames();
    readings.inputDesktop = inputServices_.inputDesktopAvailable();
    remoteControl_->updateGate(evaluateGate(readings));
    const bool ready = remoteControl_->isReady();
    if (ready == lastReportedReady_) return;
    lastReportedReady_ = ready;
    outbox_.sendEvent("peer.inputConfigured", nullptr, inputConfiguredPayload(inputEpoch_, ready));
}

}  // namespace native_worker
