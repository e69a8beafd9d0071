#include "base/field_checks.h"
#include "media/media_settings.h"
#include "worker/ice_servers.h"
#include "worker/session.h"

namespace native_worker {
namespace {

Role readRole(const nlohmann::json& message) {
    const std::string role = requireString(message, "role", 16, Empty::refused);
    if (role == "host") return Role::host;
    if (role == "controller") return Role::controller;
    refuseInvalidMessage();
}

std::int32_t readCaptureFps(const nlohmann::json& message, Role role) {
    const auto capture = message.find("capture");
    if (role != Role::host) {
        if (capture != message.end()) refuseInvalidMessage();
        return 0;
    }
    if (capture == message.end() || !capture->is_object() || capture->size() != 1) refuseInvalidMessage();
    return requireInteger(*capture, "fps", 1, engine::highestFramesPerSecond);
}

}  // namespace

void Session::createPeer(const nlohmann::json& message, Identity identity) {
    requireOnlyFields(message, {"role", "iceServers", "capture", "input"});
    const Role role = readRole(message);
    const std::int32_t fps = readCaptureFps(message, role);
    engine::PeerConnectionConfiguration configuration = workerConfiguration();
    readIceServers(message, configuration);

    outbox_.bind(std::move(identity));
    role_ = role;
    observePeer();
    if (role == Role::host && message.contains("input")) input_.configure(message["input"]);
    engineSession_.start();
    engineSession_.connect(peer_, configuration);
    captureFps_ = fps;
    negotiation_.attach(role, *peer_.connection(), engineSession_.constraints());
    negotiation_.probe();
}

void Session::observePeer() {
    peer_.setOnChannelMessage([this](std::string_view label, std::string_view data, bool binary) {
        input_.onChannelMessage(label, data, binary);
    });
    peer_.setOnChannelState([this](std::string_view label, bool open) {
        if (open && label == "control") announcement_.sendOn(peer_);
        input_.onChannelState(label, open);
    });
    peer_.setOnConnectionState([this](engine::PeerConnectionState state) { input_.onConnectionState(state); });
}

}  // namespace native_worker
