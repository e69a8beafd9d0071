#include "base/error_codes.h"
#include "base/protocol_error.h"
#include "worker/session.h"

#include <array>

namespace native_worker {
namespace {

constexpr auto statisticsInterval = std::chrono::milliseconds(500);
constexpr std::array<const char*, 6> stateNames{"new", "connecting", "connected", "disconnected", "failed", "closed"};

}  // namespace

void Session::pump() {
    if (!peer_.connection() || closing_) return;
    if (negotiation_.poll()) constructPeer();
    if (!ready_) return;
    handleEngineEvents();
    if (role_ == Role::host)
        input_.evaluate(engineSession_.capturing(), capturedCounter_.frames(), capturedMonitor_, captureTarget_);
    negotiation_.sendLocalCandidates(peer_);
    reportConnectionState();
    pollStatistics();
}

void Session::handleEngineEvents() {
    for (const EngineEvent event : events_.take()) input_.onCaptureEvent(event);
}

void Session::reportConnectionState() {
    const engine::PeerConnectionState state = peer_.connection()->connectionState();
    if (state == lastReportedState_) return;
    if (state < engine::stateNew || state > engine::stateClosed) throw ProtocolError(codes::nativeStateFailed);
    outbox_.sendEvent("peer.state", nullptr, {{"state", stateNames[static_cast<std::size_t>(state)]}});
    lastReportedState_ = state;
}

void Session::pollStatistics() {
    if (statistics_.valid()) {
        if (clock_.now() >= statisticsDeadline_) throw ProtocolError(codes::operationTimeout);
        if (!isReady(statistics_)) return;
        const Stats stats = statistics_.get();
        outbox_.sendEvent("peer.media", nullptr,
                          {{"capturedFrames", capturedCounter_.frames()},
                           {"encodedFrames", stats.encodedFrames},
                           {"decodedFrames", decodedCounter_.frames()},
                           {"codec", stats.codec},
                           {"transportReady", false}});
        nextMediaTime_ = clock_.now() + statisticsInterval;
    }
    if (!statistics_.valid() && clock_.now() >= nextMediaTime_) startStatisticsQuery();
}

void Session::startStatisticsQuery() {
    SharedPromise<Stats> promise;
    statistics_ = promise.future();
    statisticsDeadline_ = clock_.now() + operationTimeLimit;
    const bool host = role_ == Role::host;
    peer_.connection()->getStats(
        [promise, host](std::vector<engine::StatsReport> reports) { promise.complete(buildStats(reports, host)); },
        [promise](std::string) { promise.fail(ProtocolError(codes::statsFailed)); });
}

}  // namespace native_worker
