#include "worker/session.h"

namespace native_worker {
namespace {

nlohmann::json rectangle(double x, double y, double width, double height) {
    return {{"x", x}, {"y", y}, {"width", width}, {"height", height}};
}

}  // namespace

void Session::constructPeer() {
    if (role_ == Role::host) constructHostMedia();
    ready_ = true;
    outbox_.sendEvent("peer.created", currentRequestId_, {{"transportReady", false}, {"capture", createdCapture()}});
}

void Session::constructHostMedia() {
    displayServices_.enableDpiAwareness();
    const HostMedia& host = engineSession_.addHostMedia(peer_, capturedCounter_, &input_);
    DisplayList displayList = buildDisplayList(displayServices_, host.sources.get());
    displays_ = std::move(displayList.entries);
    capturedMonitor_ = displayList.capturedMonitor;
    engineSession_.startCapture(static_cast<std::uint32_t>(captureFps_));
    captureTarget_ = recordCaptureTarget(displayServices_, host.source->id(), capturedMonitor_);
    announcement_.prepare(displays_, captureTarget_.display.id);
    input_.start(peer_, captureTarget_);
}

nlohmann::json Session::createdCapture() const {
    if (role_ != Role::host) return nlohmann::json::object();
    const DisplayTarget& display = captureTarget_.display;
    const VirtualScreen& desktop = captureTarget_.desktop;
    return {{"display",
             {{"id", display.id},
              {"physical", rectangle(display.frameX, display.frameY, display.frameWidth, display.frameHeight)},
              {"encodedWidth", display.pixelWidth},
              {"encodedHeight", display.pixelHeight}}},
            {"desktop", rectangle(desktop.x, desktop.y, desktop.width, desktop.height)},
            {"displays", displays_},
            {"inputEpoch", input_.epoch()},
            {"inputSupported", input_.configured()}};
}

}  // namespace native_worker
