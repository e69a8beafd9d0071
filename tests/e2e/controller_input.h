#pragma once

#include "browser_party.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace native_worker::e2e {

// A control-channel input event with an empty held state, for `inputEpoch`.
json inputEvent(std::string_view kind, std::uint64_t sequence, json members, int inputEpoch = 1);
// The last message of `type` the host sent the browser on "control", parsed.
std::optional<json> controlMessage(const BrowserParty& browser, std::string_view type);
// Has the browser send `event` on the channel `label` and waits until it did.
bool sendInput(BrowserParty& browser, Party& host, std::string_view label, const json& event);

}  // namespace native_worker::e2e
