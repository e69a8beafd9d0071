#include "input/input_gate.h"

namespace native_worker {
namespace {

// Recorded geometry holds whole pixels as doubles; compared truncated.
std::int64_t whole(double value) {
    return static_cast<std::int64_t>(value);
}

std::int64_t extent(std::int32_t low, std::int32_t high) {
    return std::int64_t{high} - low;
}

}  // namespace

GateState evaluateGate(const GateReadings& readings) {
    const bool captureReady =
        readings.captureHealthy && !readings.geometryChanged && readings.capturing && readings.capturedFrames > 0;
    return {true, readings.approved, captureReady, readings.inputDesktop};
}

bool geometryChanged(const std::optional<platform::Rect>& monitor, const platform::Rect& desktop,
                     const DisplayTarget& recordedDisplay, const VirtualScreen& recordedDesktop) {
    const bool desktopPresent = desktop.left < desktop.right && desktop.top < desktop.bottom;
    if (!monitor || !desktopPresent) return true;
    return whole(recordedDisplay.frameX) != monitor->left || whole(recordedDisplay.frameY) != monitor->top ||
           whole(recordedDisplay.frameWidth) != extent(monitor->left, monitor->right) ||
           whole(recordedDisplay.frameHeight) != extent(monitor->top, monitor->bottom) ||
           whole(recordedDesktop.x) != desktop.left || whole(recordedDesktop.y) != desktop.top ||
           whole(recordedDesktop.width) != extent(desktop.left, desktop.right) ||
           whole(recordedDesktop.height) != extent(desktop.top, desktop.bottom);
}

bool isPeerLost(engine::PeerConnectionState state) {
    return state == engine::stateDisconnected || state == engine::stateFailed || state == engine::stateClosed;
}

}  // namespace native_worker
