#pragma once

#include "media/peer.h"

#include <nlohmann/json.hpp>

#include <string_view>

// Sending on the host peer's data channels by label.
namespace native_worker {

// Sends the text on every open channel with this label, without holding the
// peer's lock while sending; true when at least one channel took it.
bool sendOnChannel(Peer& peer, std::string_view label, std::string_view text);

// Announces the displays on "control" once they are known; never throws.
void sendDisplayList(Peer& peer, const nlohmann::json& displays, std::string_view activeId);

}  // namespace native_worker
