#include "worker/outbox.h"

namespace native_worker {

void Outbox::bind(Identity identity) {
    identity_ = std::move(identity);
    bound_ = true;
}

void Outbox::sendEvent(std::string_view type, nlohmann::json requestId, nlohmann::json payload) {
    if (!bound_) return;
    payload["version"] = 1;
    payload["type"] = type;
    payload["requestId"] = std::move(requestId);
    payload["accountId"] = identity_.accountId;
    payload["sessionId"] = identity_.sessionId;
    payload["generation"] = identity_.generation;
    writer_.send(std::move(payload));
}

void Outbox::sendFatalError(const char* code, std::string_view currentRequestId) {
    if (bound_) {
        nlohmann::json requestId = currentRequestId.empty() ? nlohmann::json() : nlohmann::json(currentRequestId);
        sendEvent("peer.error", std::move(requestId), {{"code", code}, {"fatal", true}});
        return;
    }
    writer_.send({{"version", 1}, {"type", "worker.error"}, {"code", code}, {"fatal", true}});
}

}  // namespace native_worker
