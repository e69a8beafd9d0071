#pragma once

#include "media/engine.h"

#include <nlohmann/json.hpp>

namespace native_worker {

// Reads "iceServers" of peer.create into the engine's configuration record,
// one slot per URL in order. Throws ProtocolError "invalid_message".
void readIceServers(const nlohmann::json& message, engine::PeerConnectionConfiguration& configuration);

}  // namespace native_worker
