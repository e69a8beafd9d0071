#pragma once

#include "input/gate_state.h"
#include "media/displays.h"
#include "media/engine.h"
#include "platform/display_services.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>

// The session's side of the input gate, as functions of what it reads.
namespace native_worker {

// Checks a "peer.inputGate" command against the session; throws
// ProtocolError "invalid_message" or "input_epoch_mismatch".
void checkInputGateCommand(const nlohmann::json& message, bool hasRemoteControl, bool host,
                           std::uint64_t sessionEpoch);

// The payload of "peer.inputConfigured".
nlohmann::json inputConfiguredPayload(std::uint64_t inputEpoch, bool ready);

// What the event pump reads on each pass.
struct GateReadings {
    bool approved = false;
    bool captureHealthy = false;
    bool geometryChanged = false;
    bool capturing = false;
    std::uint64_t capturedFrames = 0;
    bool inputDesktop = false;
};

GateState evaluateGate(const GateReadings& readings);

// Whether the captured monitor (empty when it can no longer be found) or
// the desktop differ from what was recorded when capture started.
bool geometryChanged(const std::optional<platform::Rect>& monitor, const platform::Rect& desktop,
                     const DisplayTarget& recordedDisplay, const VirtualScreen& recordedDesktop);

// Disconnected, failed or closed: the controller is gone.
bool isPeerLost(engine::PeerConnectionState state);

}  // namespace native_worker
