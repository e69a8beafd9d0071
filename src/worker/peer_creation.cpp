#include "input/input_event.h"
#include "media/media_settings.h"
#include "platform/sockets.h"
#include "worker/error_codes.h"
#include "worker/field_checks.h"
#include "worker/ice_servers.h"
#include "worker/protocol_error.h"
#include "worker/session.h"

namespace native_worker {
namespace {

constexpr auto operationTimeLimit = std::chrono::seconds(10);

[[noreturn]] void refuse() {
    throw ProtocolError(codes::invalidMessage);
}

std::int32_t readCaptureFps(const nlohmann::json& message, bool host) {
    const auto capture = message.find("capture");
    if (!host) {
        if (capture != message.end()) refuse();
        return 0;
    }
    if (capture == message.end() || !capture->is_object() || capture->size() != 1) refuse();
    return requireInteger(*capture, "fps", 1, 60);
}

}  // namespace

void Session::createPeer(const nlohmann::json& message, Identity identity) {
    requireOnlyFields(message, {"role", "iceServers", "capture", "input"});
    std::string role = requireString(message, "role", 16, Empty::refused);
    if (role != "host" && role != "controller") refuse();
    const bool host = role == "host";
    const std::int32_t fps = readCaptureFps(message, host);
    engine::PeerConnectionConfiguration configuration = workerConfiguration();
    readIceServers(message, configuration);

    outbox_.bind(std::move(identity));
    role_ = std::move(role);
    installPeerCallbacks();
    if (host && message.contains("input")) readInputSettings(message["input"]);
    startEngine(configuration);
    captureFps_ = fps;

    SharedPromise<Completion> promise;
    pending_ = std::make_unique<PendingOperation>();
    pending_->requestId = currentRequestId_;
    pending_->kind = OperationKind::initialize;
    pending_->deadline = clock_.now() + operationTimeLimit;
    pending_->completion = promise.future();
    // A probe: only whether the engine can create an offer matters.
    peer_.connection()->createOffer([promise](std::string, std::string) { promise.complete({true, {}}); },
                                    [promise](std::string) { promise.complete({false, {}}); }, constraints_);
}

void Session::readInputSettings(const nlohmann::json& input) {
    if (!input.is_object()) refuse();
    for (const auto& [key, value] : input.items())
        if (key != "inputEpoch" && key != "inputApproved") refuse();
    const std::uint64_t epoch = requireUnsigned(input, "inputEpoch", 1, largestInputEpoch);
    const auto approved = input.find("inputApproved");
    if (approved == input.end() || !approved->is_boolean()) refuse();
    inputEpoch_ = epoch;
    inputApproved_ = approved->get<bool>();
    inputConfigured_ = true;
}

void Session::startEngine(const engine::PeerConnectionConfiguration& configuration) {
    socketsStarted_ = platform::startSockets();
    if (!socketsStarted_) throw ProtocolError(codes::nativeInitializeFailed);
    engineInitialized_ = engine_.initialize();
    if (!engineInitialized_) throw ProtocolError(codes::nativeInitializeFailed);
    factory_ = engine_.createPeerConnectionFactory();
    if (!factory_) throw ProtocolError(codes::nativeInitializeFailed);
    factoryInitialized_ = factory_->initialize();
    if (!factoryInitialized_) throw ProtocolError(codes::nativeInitializeFailed);
    constraints_ = engine_.createMediaConstraints();
    auto connection = factory_->createPeerConnection(configuration, constraints_);
    if (!connection) throw ProtocolError(codes::nativeInitializeFailed);
    peer_.attachConnection(std::move(connection));
}

}  // namespace native_worker
