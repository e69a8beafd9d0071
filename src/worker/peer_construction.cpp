#include "media/displays.h"
#include "media/media_settings.h"
#include "worker/error_codes.h"
#include "worker/protocol_error.h"
#include "worker/session.h"

namespace native_worker {
namespace {

[[noreturn]] void captureUnavailable() {
    throw ProtocolError(codes::captureUnavailable);
}

nlohmann::json rectangle(double x, double y, double width, double height) {
    return {{"x", x}, {"y", y}, {"width", width}, {"height", height}};
}

}  // namespace

void Session::constructPeer() {
    if (role_ == "host") constructHostMedia();
    ready_ = true;
    outbox_.sendEvent("peer.created", currentRequestId_,
                      {{"transportReady", false}, {"capture", createdCapture()}});
}

void Session::constructHostMedia() {
    displayServices_.enableDpiAwareness();
    const auto device = factory_->desktopDevice();
    const auto sources = device ? device->screenSources() : nullptr;
    if (!sources || sources->refresh(false, false) < 1) captureUnavailable();
    const auto source = sources->source(0);
    if (!source) captureUnavailable();
    DisplayList displayList = buildDisplayList(displayServices_, sources.get());
    displays_ = std::move(displayList.entries);
    capturedMonitor_ = displayList.capturedMonitor;

    capturer_ = device->createCapturer(source, false);
    if (!capturer_) captureUnavailable();
    capturer_->registerObserver(this);
    videoSource_ = factory_->createDesktopSource(capturer_, "desktop", constraints_);
    if (!videoSource_) captureUnavailable();
    videoTrack_ = factory_->createVideoTrack(videoSource_, "desktop-video");
    if (!videoTrack_) captureUnavailable();
    videoTrack_->addRenderer(&capturedCounter_);
    const auto transceiver = peer_.connection()->addTrack(videoTrack_, {});

    const auto h264 = h264SenderCodecs(*factory_);
    if (!transceiver || h264.empty()) throw ProtocolError(codes::h264Unavailable);
    transceiver->setCodecPreferences(h264);

    peer_.attachChannel(peer_.connection()->createDataChannel("control", controlChannelOptions()));
    peer_.attachChannel(peer_.connection()->createDataChannel("motion", motionChannelOptions()));

    if (capturer_->start(static_cast<std::uint32_t>(captureFps_)) != engine::DesktopCapturer::StartResult::running)
        captureUnavailable();
    captureTarget_ = recordCaptureTarget(displayServices_, source->id(), capturedMonitor_);
    if (inputConfigured_) createRemoteControl();
}

nlohmann::json Session::createdCapture() const {
    if (role_ != "host") return nlohmann::json::object();
    const DisplayTarget& display = captureTarget_.display;
    const VirtualScreen& desktop = captureTarget_.desktop;
    return {{"display",
             {{"id", display.id},
              {"physical", rectangle(display.frameX, display.frameY, display.frameWidth, display.frameHeight)},
              {"encodedWidth", display.pixelWidth},
              {"encodedHeight", display.pixelHeight}}},
            {"desktop", rectangle(desktop.x, desktop.y, desktop.width, desktop.height)},
            {"displays", displays_},
            {"inputEpoch", inputConfigured_ ? inputEpoch_ : std::uint64_t{0}},
            {"inputSupported", inputConfigured_}};
}

}  // namespace native_worker
