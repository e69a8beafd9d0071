#pragma once

#include "input/gate_state.h"
#include "media/displays.h"
#include "media/engine.h"
#include "platform/display_services.h"

#include <cstdint>
#include <optional>

// The input gate's readiness, as functions of what the session reads.
namespace native_worker {

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
