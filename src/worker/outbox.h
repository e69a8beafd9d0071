#pragma once

#include "base/field_checks.h"
#include "transport/host_writer.h"

#include <nlohmann/json.hpp>

#include <string_view>

namespace native_worker {

// The only way serve mode produces output: events completed with the envelope
// of the bound identity, and the two final error events.
class Outbox {
public:
    explicit Outbox(transport::HostWriter& writer) : writer_(writer) {}

    // From now on events are sent, carrying this identity.
    void bind(Identity identity);
    bool bound() const { return bound_; }
    const Identity& identity() const { return identity_; }

    // Sends nothing until an identity is bound. requestId is a string or null.
    void sendEvent(std::string_view type, nlohmann::json requestId, nlohmann::json payload = nlohmann::json::object());
    // "peer.error" once bound, otherwise "worker.error" without identity.
    void sendFatalError(const char* code, std::string_view currentRequestId);

private:
    transport::HostWriter& writer_;
    Identity identity_;
    bool bound_ = false;
};

}  // namespace native_worker
